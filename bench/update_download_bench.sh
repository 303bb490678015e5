#!/usr/bin/env bash
# Update download benchmark: a 100 MB update file on loopback, paced at 125 MB/s (a gigabit link), then
# unpaced, downloaded through TsuUpdater with the wizard shown and its fields set for every 4096-byte block
# (update-download-bench), and with curl -o from the same server, alternating, five times each; prints the
# medians and their ratio (whole program runs, start-up included), then what the wizard costs per block and
# per painted refresh. QARVIA_BENCH_RATE=N measures at N bytes per second only (0: unpaced).
#     bench/update_download_bench.sh BUILD_DIR [RUNS]
set -euo pipefail
build=${1:?usage: update_download_bench.sh BUILD_DIR [RUNS]}
runs=${2:-5}
program=$build/bench/update-download-bench
server=$build/bench/transfer-pacing-server
. "$(dirname "$0")/timing.sh"
require_programs "$program" "$server"

size=$((100 * 1024 * 1024))
rates=${QARVIA_BENCH_RATE:-125000000 0}
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1 QT_QPA_PLATFORM=offscreen

for rate in $rates; do
    start_server "$rate" update.bin
    ours=() theirs=()
    for ((i = 0; i < runs; i++)); do
        race update-download-bench "$work/update.bin.uTMP" "$program" "$url" "$work"
    done
    stop_server
    m_a=$(printf '%s\n' "${ours[@]}" | median)
    m_b=$(printf '%s\n' "${theirs[@]}" | median)
    awk -v s="$size" -v o="$m_a" -v c="$m_b" -v r="$rate" 'BEGIN {
        printf "100 MB update at %s B/s: TsuUpdater+wizard median %7.3f s (%7.1f MB/s)   curl median %7.3f s (%7.1f MB/s)   ratio %5.3f\n",
            (r == 0 ? "unpaced" : r), o, s / 1e6 / o, c, s / 1e6 / c, o / c }'
    printf 'runs: TsuUpdater %s | curl %s\n' "${ours[*]}" "${theirs[*]}"
done
"$program" --parts 2>/dev/null
