#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a desktop and a user find there: every file in its
# place and nothing else, the desktop entry and the AppStream data as their validators see them, the icons at
# their sizes, a manual page per program, and every program starting from the prefix.
#   installed-prefix-test.sh BUILD_DIR VERSION PROGRAM...
set -uo pipefail
build=$1 version=$2
shift 2
programs=("$@")
id=net.lumora_games.QarviaToolbox
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }

sizes=(16 22 24 32 48 64 128 256)
expected=(share/applications/$id.desktop share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/$id.svg
          share/doc/qarvia-toolbox/copyright share/doc/qarvia-toolbox/changelog.gz)
for s in "${sizes[@]}"; do expected+=("share/icons/hicolor/${s}x${s}/apps/$id.png"); done
for p in "${programs[@]}"; do expected+=("bin/$p" "share/man/man1/$p.1.gz"); done
# The update stub stays inside the program: nothing but the above is installed.
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . -type f -printf '%P\n' | sort) ||
    fail "installed files differ from the expected layout (< missing, > unexpected)"

# Validators over the installed files. desktop-file-validate's hint about two main categories stays:
# the toolbox belongs in both Game and Utility.
out=$(desktop-file-validate --no-hints "$prefix/share/applications/$id.desktop" 2>&1) || fail "desktop-file-validate failed"
[ -z "$out" ] || fail "desktop-file-validate: $out"
out=$(appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" 2>&1) || fail "appstreamcli: $out"
grep -E '^[EW]:' <<<"$out" && fail "appstreamcli reports errors or warnings"
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" ||
    fail "the AppStream data has no release $version"
# The screenshots are the pictures of docs/screenshots, every one of them, as published on the site.
pictures=$(cd "$(dirname "$0")/../../docs/screenshots" && ls *.png)
shots=$(sed -n 's|.*<image>.*/\([^/<]*\)</image>.*|\1|p' "$prefix/share/metainfo/$id.metainfo.xml" | sort)
[ "$shots" = "$pictures" ] || fail "the AppStream screenshots ($shots) are not those of docs/screenshots ($pictures)"
exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/applications/$id.desktop")
[ -x "$prefix/bin/${exec_line%% *}" ] || fail "the desktop entry starts '$exec_line', which is not installed"

# Each PNG is square at the size its folder names (width and height from the IHDR chunk).
for s in "${sizes[@]}"; do
    f="$prefix/share/icons/hicolor/${s}x${s}/apps/$id.png"
    [ -f "$f" ] || continue
    dims=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "not a PNG")' "$f")
    [ "$dims" = "${s}x${s}" ] || fail "$f is $dims"
done

# Every program starts from the prefix, names itself with the project's version, and has its manual page.
for p in "${programs[@]}"; do
    out=$("$prefix/bin/$p" --version 2>/dev/null) || fail "$p --version exits with $?"
    [ "$(head -n 1 <<<"$out")" = "$p $version" ] || fail "$p --version prints '$out'"
    page="$prefix/share/man/man1/$p.1.gz"
    [ -f "$page" ] && { zcat "$page" | grep -q "^$p \\\\- "; } || fail "$p's manual page has no NAME line"
done
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$prefix/bin/qarvia-toolbox" --smoke >/dev/null 2>&1 || fail "qarvia-toolbox --smoke exits with $?"

exit $failed
