#!/usr/bin/env bash
# Builds the Debian packages ristova and ristova-tools into build/:
#   ./scripts/package.sh && sudo apt install ./build/ristova_*.deb
# dpkg-buildpackage builds them from debian/ in a copy of the tree
# (build-pkg/ristova-<version>/), with the manual's screenshots taken from
# that build on a virtual screen (RISTOVA_PACKAGE_SCREENSHOTS=0 leaves them
# out: the build profile pkg.ristova.noscreenshots).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
pkg=${RISTOVA_PACKAGE_BUILD_DIR:-$here/build-pkg}
out=${RISTOVA_PACKAGE_OUT_DIR:-$here/build}
"$here/scripts/install-deps.sh"

version=$(dpkg-parsechangelog -l "$here/debian/changelog" -S Version)
cmake_version=$(sed -n 's/^project(Ristova VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
if [ "$version" != "$cmake_version" ]; then
  echo "debian/changelog has version $version, CMakeLists.txt $cmake_version" >&2
  exit 1
fi

# The same path every time, so that the compiler cache knows the build.
src=$pkg/ristova-$version
rm -rf "$pkg"
mkdir -p "$src"
tar -C "$here" --exclude='./build*' --exclude=./.git --exclude=./demo-run -cf - . |
  tar -C "$src" -xf -

profiles=()
if [ "${RISTOVA_PACKAGE_SCREENSHOTS:-1}" = 0 ]; then
  profiles=(-Ppkg.ristova.noscreenshots)
fi
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.ccache} CCACHE_BASEDIR=$src CCACHE_NOHASHDIR=1
export DEB_BUILD_OPTIONS="parallel=2 ${DEB_BUILD_OPTIONS:-}"
(cd "$src" && nice dpkg-buildpackage -us -uc -b "${profiles[@]}" >"$pkg/build.log" 2>&1) || {
  tail -40 "$pkg/build.log" >&2
  echo "dpkg-buildpackage failed; the whole log is $pkg/build.log" >&2
  exit 1
}

mkdir -p "$out"
rm -f "$out"/ristova_*.deb "$out"/ristova-tools_*.deb
cp "$pkg"/ristova_"$version"_*.deb "$pkg"/ristova-tools_"$version"_*.deb "$out/"
ls "$out"/ristova_*.deb "$out"/ristova-tools_*.deb
