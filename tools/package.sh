#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package and checks it as a packager would: lintian with no error and no
# warning, the AppStream metadata with appstreamcli, and the version: package, --version and
# manual pages all from the CMake project version.
#
#   bash tools/package.sh [BUILD_FOLDER]
#
# BUILD_FOLDER is a configured build to package (test.sh passes its own, build/test); without
# one, build/package is made as a Release build without the tests.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
source tools/deps.sh
vorlagen_ensure_packages dpkg-dev lintian appstream

jobs=$(nproc 2>/dev/null || echo 2)
build=${1:-build/package}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
fi
cmake --build "$build" -j "$jobs"

out="$build/deb"
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >/dev/null
deb=$(ls "$out"/vorlagen_*.deb)
echo "== $deb"
dpkg-deb --field "$deb"

# No error and no warning either, so that a new one stops the build; the few notes lintian
# prints (hardening of the build flags) are explained in the README.
lintian --fail-on error,warning "$deb"
echo "lintian: bez gresaka i upozorenja"

contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"
appstreamcli validate --pedantic --no-net "$contents"/usr/share/metainfo/*.metainfo.xml

version=$(dpkg-deb -f "$deb" Version)
for program in $(ls "$contents/usr/bin"); do
    [ -f "$contents/usr/share/man/man1/$program.1.gz" ] || { echo "nema man stranice za $program" >&2; exit 1; }
    [ -f "$contents/usr/share/bash-completion/completions/$program" ] ||
        { echo "nema dopune za bash za $program" >&2; exit 1; }
    zcat "$contents/usr/share/man/man1/$program.1.gz" | grep -q "\"vorlagen $version\"" ||
        { echo "man stranica $program ne nosi verziju $version" >&2; exit 1; }
    # The packaged program itself, not the build's: it must run from the package's own paths.
    answer=$("$contents/usr/bin/$program" --version)
    [ "$answer" = "$program $version" ] ||
        { echo "$program --version: \"$answer\", paket: $version" >&2; exit 1; }
done
echo "verzija $version: paket, --version i man stranice se slazu"
