# Shell helpers shared by the download benchmarks; sourced, not run. Expects $size (bytes of the served file).

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
    [ "$got" -eq "$size" ] || { echo "$(basename "$0" .sh): $1 has $got bytes, expected $size" >&2; exit 1; }
    rm -f "$1"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
