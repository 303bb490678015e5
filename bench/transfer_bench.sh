#!/usr/bin/env bash
# Transfer benchmark: downloads a 100 MB file on loopback with qarvia-fetch (TsuCustomHTTP, progress handler
# on the main thread for every 4096-byte block) and with curl -o, alternating, five times each, first from a
# server paced at 125 MB/s (a gigabit link), then unpaced; prints the medians and their ratios, then the cost
# of one worker-to-main-thread hand-off.
#     bench/transfer_bench.sh BUILD_DIR [RUNS]
set -euo pipefail
build=${1:?usage: transfer_bench.sh BUILD_DIR [RUNS]}
runs=${2:-5}
fetch=$build/tools/qarvia-fetch/qarvia-fetch
server=$build/bench/transfer-pacing-server
handoff=$build/bench/transfer-handoff
. "$(dirname "$0")/timing.sh"
require_programs "$fetch" "$server" "$handoff"

size=$((100 * 1024 * 1024))
paced_rate=125000000
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

measure() { # label rate
    local label=$1 rate=$2 ours=() theirs=() i
    start_server "$rate" bench.bin
    for ((i = 0; i < runs; i++)); do
        race qarvia-fetch "$work/ours.bin" "$fetch" "$url" "$work/ours.bin"
    done
    stop_server
    local m_ours m_theirs
    m_ours=$(printf '%s\n' "${ours[@]}" | median)
    m_theirs=$(printf '%s\n' "${theirs[@]}" | median)
    awk -v l="$label" -v s="$size" -v o="$m_ours" -v c="$m_theirs" 'BEGIN {
        printf "%-22s qarvia-fetch median %7.3f s (%7.1f MB/s)   curl median %7.3f s (%7.1f MB/s)   ratio %5.3f\n",
            l, o, s / 1e6 / o, c, s / 1e6 / c, o / c }'
    printf '%-22s runs: qarvia-fetch %s | curl %s\n' "" "${ours[*]}" "${theirs[*]}"
}

echo "100 MB over loopback, $runs downloads each, alternating (4096-byte blocks, progress handler per block)"
measure "paced at 125 MB/s:" "$paced_rate"
measure "unpaced:" 0
"$handoff"
