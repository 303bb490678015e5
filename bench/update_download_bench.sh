#!/usr/bin/env bash
# Update download benchmark: a 100 MB update file on loopback, paced at 125 MB/s (a gigabit link), then
# unpaced, downloaded through TsuUpdater with the wizard shown and its fields set for every 4096-byte block
# (update-download-bench), and with curl -o from the same server, alternating, five times each; prints the
# medians and their ratio twice: the download as the running toolbox does it (from its start, the wizard not
# yet made, to the finish button, against curl's own transfer time) and whole program runs (each program's
# start and exit included: Qt's libraries and the window system take tens of milliseconds to start where
# curl takes a few), then what the wizard costs per block and per painted refresh. QARVIA_BENCH_RATE=N
# measures at N bytes per second only (0: unpaced).
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
    ours=() theirs=() ours_in=() theirs_in=()
    for ((i = 0; i < runs; i++)); do
        t0=$(date +%s%N)
        inside=$("$program" "$url" "$work" 2>/dev/null) || { echo "$bench_name: update-download-bench failed" >&2; exit 1; }
        t1=$(date +%s%N)
        check_size "$work/update.bin.uTMP"
        curl_inside=$(curl -s -f -o "$work/curl.bin" -w '%{time_total}' "$url") || { echo "$bench_name: curl failed" >&2; exit 1; }
        t2=$(date +%s%N)
        check_size "$work/curl.bin"
        ours+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')")
        theirs+=("$(awk -v a="$t1" -v b="$t2" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')")
        ours_in+=("$inside")
        theirs_in+=("$curl_inside")
    done
    stop_server
    report() { # label ours... -- theirs...
        local label=$1; shift
        local a=() b=() side=a v
        for v in "$@"; do
            if [ "$v" = -- ]; then side=b; elif [ $side = a ]; then a+=("$v"); else b+=("$v"); fi
        done
        local m_a m_b
        m_a=$(printf '%s\n' "${a[@]}" | median)
        m_b=$(printf '%s\n' "${b[@]}" | median)
        awk -v s="$size" -v o="$m_a" -v c="$m_b" -v r="$rate" -v l="$label" 'BEGIN {
            printf "100 MB update at %s B/s, %s: TsuUpdater+wizard median %7.3f s (%7.1f MB/s)   curl median %7.3f s (%7.1f MB/s)   ratio %5.3f\n",
                (r == 0 ? "unpaced" : r), l, o, s / 1e6 / o, c, s / 1e6 / c, o / c }'
        printf '  runs: TsuUpdater %s | curl %s\n' "${a[*]}" "${b[*]}"
    }
    report "the download" "${ours_in[@]}" -- "${theirs_in[@]}"
    report "whole program runs" "${ours[@]}" -- "${theirs[@]}"
done
"$program" --parts 2>/dev/null
