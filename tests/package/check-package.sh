#!/usr/bin/env bash
# Builds the package and checks it as an installation would see it: its
# paths, lintian, the desktop entry and AppStream data, and the extracted
# window runs from a temporary root with a temporary HOME.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

RISTOVA_PACKAGE_OUT_DIR=$work RISTOVA_PACKAGE_SCREENSHOTS=${RISTOVA_PACKAGE_SCREENSHOTS:-0} \
  "$here/scripts/package.sh" >/dev/null
deb=$(ls "$work"/ristova_*.deb)
version=$(sed -n 's/^project(Ristova VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
[[ $(basename "$deb") == ristova_${version}_$(dpkg --print-architecture).deb ]] ||
  fail "package name $(basename "$deb")"

listing=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for path in /usr/bin/ristova /usr/bin/ristova-run /usr/bin/ristova-ctl /usr/bin/ristova-sim \
  /lib/systemd/system/ristova@.service \
  "/usr/lib/$multiarch/ristova/PowerDll/SimRelay.so" /usr/include/ristova/state_plugin.h \
  /usr/share/applications/org.ristova.Ristova.desktop \
  /usr/share/icons/hicolor/scalable/apps/org.ristova.Ristova.svg \
  /usr/share/icons/hicolor/48x48/apps/org.ristova.Ristova.png \
  /usr/share/icons/hicolor/128x128/apps/org.ristova.Ristova.png \
  /usr/share/icons/hicolor/256x256/apps/org.ristova.Ristova.png \
  /usr/share/metainfo/org.ristova.Ristova.metainfo.xml \
  /usr/share/man/man1/ristova.1.gz /usr/share/man/man1/ristova-run.1.gz \
  /usr/share/man/man1/ristova-sim.1.gz /usr/share/man/man1/ristova-ctl.1.gz \
  /usr/share/doc/ristova/manual/index.html \
  /usr/share/doc/ristova/manual/ristova-manual.pdf \
  /usr/share/doc/ristova/copyright /usr/share/doc/ristova/changelog.gz; do
  grep -qxF "$path" <<<"$listing" || fail "missing in the package: $path"
done
dpkg-deb -f "$deb" Depends | grep -q fonts- || fail "no font in Depends"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "shlibdeps did not run"

errors=$(lintian --no-tag-display-limit "$deb" 2>&1 | grep '^E:' || true)
[ -z "$errors" ] || fail "lintian: $errors"

root=$work/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/org.ristova.Ristova.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.ristova.Ristova.metainfo.xml" >/dev/null

[ "$("$root/usr/bin/ristova" --version)" = "ristova $version" ] || fail "ristova --version"
[ "$("$root/usr/bin/ristova-run" --version)" = "ristova-run $version" ] || fail "ristova-run --version"
grep -qx 'ExecStart=/usr/bin/ristova-run --folder %f' "$root/lib/systemd/system/ristova@.service" ||
  fail "the unit does not start the installed runner"
! ldd "$root/usr/bin/ristova-run" | grep -qi qt || fail "ristova-run links Qt"
[ "$("$root/usr/bin/ristova-ctl" --version)" = "ristova-ctl $version" ] || fail "ristova-ctl --version"
! ldd "$root/usr/bin/ristova-ctl" | grep -qi qt || fail "ristova-ctl links Qt"

# Installed: the executable's folder cannot be written, so the data goes
# under XDG_DATA_HOME; the installed plug-in is found there.
chmod -R a-w "$root/usr"
home=$work/home
mkdir -p "$home"
set +e
HOME=$home XDG_DATA_HOME=$home/data QT_QPA_PLATFORM=offscreen timeout 5 "$root/usr/bin/ristova" \
  >"$work/run.out" 2>&1
set -e
[ -f "$home/data/ristova/系统参数.INI" ] ||
  fail "no settings file under XDG_DATA_HOME (the program said: $(cat "$work/run.out"))"
[ -z "$(find "$root/usr/bin" -newer "$deb" -print -quit)" ] || fail "usr/bin was written"

# The installed runner on a demo folder in the data folder of another HOME,
# whose PowerDll/ lacks the decoder: the installed one must decode the board.
home2=$work/home2
fake=$work/fakebuild
mkdir -p "$fake/PowerDll"
cp "$root/usr/lib/$multiarch/ristova/PowerDll/SimRelay.so" "$fake/PowerDll/"
data2=$home2/data/ristova
RISTOVA_BUILD_DIR=$fake "$here/scripts/prepare-demo.sh" "$data2" 2 >/dev/null
rm "$data2/PowerDll/SimRelay.so"
"$root/usr/bin/ristova-sim" --link "$data2/sim-tty" --relays 2 >/dev/null 2>&1 &
sim=$!
for _ in $(seq 1 100); do [ -e "$data2/sim-tty" ] && break; sleep 0.05; done
set +e
HOME=$home2 XDG_DATA_HOME=$home2/data timeout --preserve-status -s TERM 4 \
  "$root/usr/bin/ristova-run" >"$work/run2.out" 2>&1
rc=$?
set -e
kill "$sim" 2>/dev/null || true
wait "$sim" 2>/dev/null || true
[ "$rc" = 0 ] || fail "ristova-run ended with $rc: $(cat "$work/run2.out")"
grep -q ' state board ' "$work/run2.out" ||
  fail "no board state decoded by the installed plug-in: $(cat "$work/run2.out")"
echo "package checks passed: $(basename "$deb")"
