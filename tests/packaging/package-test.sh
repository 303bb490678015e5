#!/usr/bin/env bash
# Checks the Debian package that ./run package built: its name, its control fields (dependencies read from
# the programs' libraries, maintainer, section, description), its files, its programs starting from the
# unpacked tree, and lintian finding no error (warnings are listed).
#   package-test.sh [DEB]   (without DEB: build-package/qarvia-toolbox_*_amd64.deb; exit 77 when none was built)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
deb=${1:-}
if [ -z "$deb" ]; then
    debs=("$root"/build-package/qarvia-toolbox_*_amd64.deb)
    [ -f "${debs[0]}" ] || { echo "no package built (./run package builds one)"; exit 77; }
    deb=${debs[0]}
fi
[ -f "$deb" ] || { echo "FAIL: no package $deb"; exit 1; }
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}
field() { dpkg-deb --field "$deb" "$1"; }

version=$(sed -n 's/^project(QarviaToolbox VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ "$(basename "$deb")" = "qarvia-toolbox_${version}_amd64.deb" ] || fail "package file named $(basename "$deb")"
[ "$(field Package)" = qarvia-toolbox ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = utils ] || fail "Section: $(field Section)"
grep -qE '^[^<]+ <[^@>]+@[^>]+>$' <<<"$(field Maintainer)" || fail "Maintainer: $(field Maintainer)"
[ "$(field Description | wc -l)" -gt 3 ] || fail "the description has no long part"
depends=$(field Depends)
for lib in libc6 libstdc++6 libqt6core6 libqt6widgets6 libqt6webenginewidgets6 libqt6svg6 'libcurl4 ' libssl3; do
    grep -q -- "$lib" <<<"$depends " || fail "Depends lacks ${lib% }: $depends"
done
zgrep -q "^qarvia-toolbox ($version)" <(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/qarvia-toolbox/changelog.gz) ||
    fail "the changelog does not start with version $version"

id=net.lumora_games.QarviaToolbox
files=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for f in usr/bin/qarvia-toolbox usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/$id.svg usr/share/icons/hicolor/48x48/apps/$id.png \
         usr/share/man/man1/qarvia-toolbox.1.gz usr/share/doc/qarvia-toolbox/copyright; do
    grep -qx "\./$f" <<<"$files" || fail "the package lacks /$f"
done
grep -q 'usr/local\|build' <<<"$files" && fail "the package holds build or /usr/local paths"

# The programs run from the unpacked tree with the system's libraries.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb --extract "$deb" "$tree"
for program in "$tree"/usr/bin/*; do
    out=$("$program" --version 2>/dev/null) || fail "$(basename "$program") --version exits with $?"
    [ "$out" = "$(basename "$program") $version" ] || fail "$(basename "$program") --version prints '$out'"
done

if command -v lintian >/dev/null; then
    report=$(lintian --tag-display-limit 0 "$deb" 2>&1)
    grep -E '^E:' <<<"$report" && fail "lintian reports errors"
    grep -E '^W:' <<<"$report" | sed 's/^/lintian warning left: /'
else
    fail "lintian is not installed"
fi
[ $failed -eq 0 ] && echo "package ok: $deb"
exit $failed
