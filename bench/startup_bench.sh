#!/usr/bin/env bash
# Start-up of the toolbox against a minimal Qt WebEngine program: each runs ten times, all taking turns, under the
# offscreen platform; prints the median wall time and peak resident memory of each and the ratios
# toolbox / minimal. All leave at the turn of the event loop after their window's first paint. Two more runs of the
# minimal program tell where the toolbox's own work begins: "text" adds a menu bar and five tab pages of text in the
# desktop's style (--widgets); "text+http" also opens the system's HTTP library after the first paint and waits for
# it at the end (--http-library), as the toolbox's update check does.
#   bash bench/startup_bench.sh BUILD_DIR [RUNS]
set -euo pipefail
build=${1:?build folder}
runs=${2:-10}
toolbox="$build/src/app/qarvia-toolbox"
minimal="$build/bench/startup-minimal-webview"
for p in "$toolbox" "$minimal"; do
    [ -x "$p" ] || { echo "missing $p (configure with -DQARVIA_BENCH=ON and build it)" >&2; exit 1; }
done
export QT_QPA_PLATFORM=offscreen
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
# Both load the same (unreachable without a network) banner address.
banner=$(grep -o 'http[^"]*/toolbox/in.htm' "$build/src/app/generated/app/BuildSettings.h" | head -1)

python3 - "$runs" "$toolbox" "$minimal" "$banner" <<'PY'
import os, statistics, subprocess, sys, time

runs, toolbox, minimal, banner = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]

def measure(cmd):
    """Wall time (s) and peak resident memory (MiB) of the program's own process, one run."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{cmd[0]} exited with {os.waitstatus_to_exitcode(status)}")
    return wall, usage.ru_maxrss / 1024.0

programs = (("minimal", [minimal, banner]), ("text", [minimal, "--widgets", banner]),
            ("text+http", [minimal, "--widgets", "--http-library", banner]), ("toolbox", [toolbox, "--smoke"]))
for _, cmd in programs:
    measure(cmd)  # warm the file cache once
# Interleaved, so a change in the machine's load during the run weighs on both programs alike.
samples = {name: [] for name, _ in programs}
for _ in range(runs):
    for name, cmd in programs:
        samples[name].append(measure(cmd))
results = {}
for name, _ in programs:
    results[name] = (statistics.median(s[0] for s in samples[name]), statistics.median(s[1] for s in samples[name]))
    print(f"{name:9s} median wall {results[name][0] * 1000:8.1f} ms   median peak RSS {results[name][1]:7.1f} MiB"
          f"   ({runs} runs)")
def ratio(a, b, what):
    x, y = results[a], results[b]
    print(f"ratio {a + '/' + b:17s}: wall {x[0] / y[0]:.2f}   memory {x[1] / y[1]:.2f}   ({what})")
ratio("text", "minimal", "a plain window of text")
ratio("text+http", "minimal", "the same, opening the HTTP library as the update check does")
ratio("toolbox", "text+http", "the toolbox's own work")
ratio("toolbox", "minimal", "target: both <= 1.1")
PY
