#!/usr/bin/env bash
# Builds the Debian package ristova_<version>_<arch>.deb into build/:
#   ./scripts/package.sh && sudo apt install ./build/ristova_*.deb
# The package is built in its own tree (build-pkg/, prefix /usr, no tests),
# with the manual's screenshots taken from that build on a virtual screen.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
pkg=${RISTOVA_PACKAGE_BUILD_DIR:-$here/build-pkg}
out=${RISTOVA_PACKAGE_OUT_DIR:-$here/build}
"$here/scripts/install-deps.sh"
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.ccache} CCACHE_BASEDIR=$here CCACHE_NOHASHDIR=1
cmake -S "$here" -B "$pkg" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DRISTOVA_BUILD_TESTS=OFF -DRISTOVA_BUILD_BENCH=OFF -DRISTOVA_WERROR=ON >/dev/null
cmake --build "$pkg" -j2
if [ "${RISTOVA_PACKAGE_SCREENSHOTS:-1}" = 1 ]; then
  "$here/scripts/screenshots.sh" "$pkg" "$pkg/manual/screenshots" >/dev/null
fi
cmake --build "$pkg" --target manual_pdf
# The manual's screenshots are part of its install tree.
rm -f "$pkg"/ristova_*.deb
(cd "$pkg" && cpack -G DEB >/dev/null)
mkdir -p "$out"
rm -f "$out"/ristova_*.deb
cp "$pkg"/ristova_*.deb "$out/"
ls "$out"/ristova_*.deb
