# Shell helpers shared by the download benchmarks; sourced, not run. Expects $size (bytes of the served file)
# by the time check_size runs, and $server (transfer-pacing-server) for start_server. Sourcing it makes a work folder ($work) and stops $server_pid on exit.

bench_name=$(basename "$0" .sh)

require_programs() { # program...; fails when one is not built, or curl is missing
    local program
    for program in "$@"; do
        [ -x "$program" ] || { echo "$bench_name: $program is missing (build with -DQARVIA_BENCH=ON)" >&2; exit 1; }
    done
    command -v curl >/dev/null || { echo "$bench_name: curl is missing" >&2; exit 1; }
}

work=$(mktemp -d)
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

seconds() { # command...; prints the wall time in seconds, fails when the command fails
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || return 1
    t1=$(date +%s%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", (b - a) / 1e9 }'
}

check_size() { # file; fails the benchmark when the file is not $size bytes long, else removes it
    local got
    got=$(stat -c %s "$1")
    [ "$got" -eq "$size" ] || { echo "$bench_name: $1 has $got bytes, expected $size" >&2; exit 1; }
    rm -f "$1"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

start_server() { # rate path; serves $size bytes at rate bytes per second (0: unpaced) at $url, ending in path
    coproc SERVER { exec "$server" "$size" "$1"; }
    server_pid=$SERVER_PID
    read -r port <&"${SERVER[0]}"
    url="http://127.0.0.1:$port/$2"
}
stop_server() {
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
}

race() { # name file command...; one run of the command (which stores file) then one of curl -o, both from
         # $url and checked; their times are appended to the arrays ours and theirs
    local name=$1 file=$2 t
    shift 2
    t=$(seconds "$@") || { echo "$bench_name: $name failed" >&2; exit 1; }
    check_size "$file"
    ours+=("$t")
    t=$(seconds curl -s -f -o "$work/curl.bin" "$url") || { echo "$bench_name: curl failed" >&2; exit 1; }
    check_size "$work/curl.bin"
    theirs+=("$t")
}
