#!/usr/bin/env bash
# Takes the README's pictures with `qarvia-toolbox --screenshot`: the five tabs (the ranking tab filled from a
# local qarvia-rank-demo), the About window and the update wizard, all skinned, and the ranking tab once more
# without the skin for comparison.   Usage: docs/make-screenshots.sh [build folder, default build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=$root/docs/screenshots
toolbox=$build/src/app/qarvia-toolbox
demo=$build/tools/qarvia-rank-demo/qarvia-rank-demo
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
mkdir -p "$out"

log=$(mktemp)
"$demo" --port 0 >"$log" &
demo_pid=$!
trap 'kill $demo_pid 2>/dev/null; wait $demo_pid 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 50); do grep -q 'listening on' "$log" && break; sleep 0.1; done
url=$(grep -o 'http://[0-9.]*:[0-9]*' "$log")

names=(experience fusion huaxue simulator)
for tab in 0 1 2 3; do
    "$toolbox" --screenshot "$out/tab$tab-${names[$tab]}.png" --tab $tab
done
"$toolbox" --rank-url "$url" --rank-search 三 --screenshot "$out/tab4-ranking.png" --tab 4
for window in about wizard; do
    "$toolbox" --screenshot "$out/window-$window.png" --window $window
done
"$toolbox" --no-skin --rank-url "$url" --rank-search 三 --screenshot "$out/tab4-ranking-no-skin.png" --tab 4
ls -l "$out"
