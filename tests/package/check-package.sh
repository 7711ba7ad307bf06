#!/usr/bin/env bash
# Builds the packages the Debian way and checks them as an installation sees
# them: their contents, lintian with no warning, the desktop entry and
# AppStream data; then installs them with apt into this machine, runs the
# service's runner as its account on a folder under /var/lib/ristova, the
# window with a temporary HOME, and purges them, leaving nothing behind.
# Where systemd manages this machine, the runner runs as the unit instance.
# Runs of this check on one machine take turns (they install one package).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
exec 9>"${TMPDIR:-/tmp}/ristova-package-check.lock"
flock 9

work=$(mktemp -d)
installed=0 sim="" folder="" unit=""
cleanup() {
  set +e
  [ -n "$sim" ] && "${as_root[@]}" kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  [ -n "$unit" ] && "${as_root[@]}" systemctl stop "$unit" 2>/dev/null &&
    "${as_root[@]}" systemctl revert "$unit" >/dev/null 2>&1
  [ -n "$folder" ] && "${as_root[@]}" rm -rf "$folder"
  [ "$installed" = 1 ] && "${as_root[@]}" apt-get purge -y -qq ristova ristova-tools >/dev/null 2>&1
  chmod -R u+w "$work"
  rm -rf "$work"
}
trap cleanup EXIT

RISTOVA_PACKAGE_OUT_DIR=$work \
  RISTOVA_PACKAGE_SCREENSHOTS=${RISTOVA_PACKAGE_SCREENSHOTS:-0} \
  "$here/scripts/package.sh" >/dev/null
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
version=$(sed -n 's/^project(Ristova VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
deb=$work/ristova_${version}_$arch.deb
tools=$work/ristova-tools_${version}_$arch.deb
[ -f "$deb" ] && [ -f "$tools" ] || fail "packages made: $(ls "$work"/*.deb)"

listing() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./|/|'; }
has() { grep -qxF "$2" <<<"$(listing "$1")" || fail "missing in $(basename "$1"): $2"; }
for path in /usr/bin/ristova /usr/bin/ristova-run /usr/bin/ristova-ctl \
  /usr/share/man/man1/ristova-ctl.1.gz \
  /usr/bin/ristova-decoder-host /usr/share/man/man1/ristova-decoder-host.1.gz \
  /lib/systemd/system/ristova@.service /usr/lib/sysusers.d/ristova.conf \
  /usr/lib/tmpfiles.d/ristova.conf "/usr/lib/$multiarch/ristova/PowerDll/" \
  /usr/share/applications/org.ristova.Ristova.desktop \
  /usr/share/icons/hicolor/scalable/apps/org.ristova.Ristova.svg \
  /usr/share/icons/hicolor/48x48/apps/org.ristova.Ristova.png \
  /usr/share/icons/hicolor/128x128/apps/org.ristova.Ristova.png \
  /usr/share/icons/hicolor/256x256/apps/org.ristova.Ristova.png \
  /usr/share/metainfo/org.ristova.Ristova.metainfo.xml \
  /usr/share/man/man1/ristova.1.gz /usr/share/man/man1/ristova-run.1.gz \
  /usr/share/doc/ristova/manual/index.html /usr/share/doc/ristova/manual/ristova-manual.pdf \
  /usr/share/doc/ristova/copyright /usr/share/doc/ristova/changelog.gz \
  /usr/share/ristova/web/index.html /usr/share/ristova/web/app.js \
  /usr/share/ristova/web/style.css; do
  has "$deb" "$path"
done
for path in /usr/bin/ristova-sim "/usr/lib/$multiarch/ristova/PowerDll/SimRelay.so" \
  /usr/include/ristova/state_plugin.h /usr/share/man/man1/ristova-sim.1.gz; do
  has "$tools" "$path"
  ! grep -qxF "$path" <<<"$(listing "$deb")" || fail "$path is in the runtime package"
done
dpkg-deb -f "$deb" Depends | grep -q fonts- || fail "no font in Depends"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "shlibdeps did not run"
for script in postinst prerm postrm; do
  dpkg-deb -I "$deb" "$script" >/dev/null 2>&1 || fail "no $script in the package"
done
dpkg-deb -I "$deb" postinst | grep -q systemd-sysusers || fail "postinst makes no account"

# Missing hardening is only information to lintian: it fails here all the same.
lintian --fail-on warning,error --display-info "$deb" "$tools" >"$work/lintian.out" 2>&1 &&
  ! grep -q ' hardening-' "$work/lintian.out" || fail "lintian: $(cat "$work/lintian.out")"

root=$work/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/org.ristova.Ristova.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.ristova.Ristova.metainfo.xml" >/dev/null
grep -qx 'ExecStart=/usr/bin/ristova-run --folder %f' "$root/lib/systemd/system/ristova@.service" ||
  fail "the unit does not start the installed runner"
! ldd "$root/usr/bin/ristova-run" | grep -qi qt || fail "ristova-run links Qt"
[ "$("$root/usr/bin/ristova-ctl" --version)" = "ristova-ctl $version" ] || fail "ristova-ctl --version"
! ldd "$root/usr/bin/ristova-ctl" | grep -qi qt || fail "ristova-ctl links Qt"

# Installed into this machine with apt, as an operator does.
if dpkg-query -W -f='${Status}' ristova 2>/dev/null | grep -q "install ok installed"; then
  fail "ristova is installed on this machine already; this check installs and purges it"
fi
installed=1
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
  -o DPkg::Lock::Timeout=600 "$deb" "$tools" >"$work/apt.out" 2>&1 ||
  fail "apt install: $(cat "$work/apt.out")"
dpkg -L ristova ristova-tools | sort -u >"$work/files"
[ "$(ristova --version)" = "ristova $version" ] || fail "ristova --version"
[ "$(ristova-run --version)" = "ristova-run $version" ] || fail "ristova-run --version"

# The account and the folder of the instances' folders.
IFS=: read -r _ _ uid _ _ home shell < <(getent passwd ristova) || fail "no account ristova"
[ "$uid" -lt 1000 ] && [ "$home" = /var/lib/ristova ] && [[ $shell == */nologin ]] ||
  fail "the account ristova: uid $uid, home $home, shell $shell"
id -nG ristova | grep -qw dialout || fail "ristova is not in dialout: $(id -nG ristova)"
[ "$(stat -c '%U:%G %a' /var/lib/ristova)" = "ristova:ristova 750" ] ||
  fail "/var/lib/ristova is $(stat -c '%U:%G %a' /var/lib/ristova)"

# Without a home an installed program has no data folder, and says so.
set +e
env -u HOME -u XDG_DATA_HOME ristova-run >"$work/nohome.out" 2>&1
rc=$?
set -e
[ "$rc" = 1 ] && grep -q HOME "$work/nohome.out" ||
  fail "ristova-run without HOME ended with $rc: $(cat "$work/nohome.out")"

# The window keeps its data under XDG_DATA_HOME.
home=$work/home
mkdir -p "$home"
set +e
HOME=$home XDG_DATA_HOME=$home/data QT_QPA_PLATFORM=offscreen timeout 5 ristova \
  >"$work/run.out" 2>&1
set -e
[ -f "$home/data/ristova/系统参数.INI" ] ||
  fail "no settings file under XDG_DATA_HOME (the program said: $(cat "$work/run.out"))"

# A service folder as the README lays it out, the simulated board on a
# pseudo-terminal of the account's, and the decoder from the installed
# plug-in folder only.
folder=/var/lib/ristova/package-check-$$
fake=$work/fakebuild
mkdir -p "$fake/PowerDll"
cp "/usr/lib/$multiarch/ristova/PowerDll/SimRelay.so" "$fake/PowerDll/"
"${as_root[@]}" env RISTOVA_BUILD_DIR="$fake" "$here/scripts/prepare-demo.sh" "$folder" 2 >/dev/null
"${as_root[@]}" rm "$folder/PowerDll/SimRelay.so"
"${as_root[@]}" chown -R ristova:ristova "$folder"
as_ristova=("${as_root[@]}" setpriv --reuid ristova --regid ristova --init-groups)
"${as_ristova[@]}" ristova-sim --link "$folder/sim-tty" --relays 2 >/dev/null 2>&1 &
sim=$!
for _ in $(seq 1 100); do [ -e "$folder/sim-tty" ] && break; sleep 0.05; done
if [ -d /run/systemd/system ]; then
  unit="ristova@$(systemd-escape --path "$folder").service"
  # The simulator's line is a pseudo-terminal, which the unit keeps out.
  "${as_root[@]}" systemctl set-property --runtime "$unit" DeviceAllow='char-pts rw'
  "${as_root[@]}" systemctl start "$unit" || fail "$unit did not start"
  for _ in $(seq 1 100); do
    journalctl -q -u "$unit" | grep -q ' state board ' && break
    sleep 0.1
  done
  journalctl -q -u "$unit" >"$work/run2.out"
  "${as_root[@]}" systemctl stop "$unit"
  "${as_root[@]}" systemctl revert "$unit" >/dev/null
  unit=""
else
  # No service manager here: the runner as the account, without new
  # privileges or capabilities, stopped by SIGTERM as systemd stops it.
  set +e
  "${as_ristova[@]}" --no-new-privs --inh-caps=-all --bounding-set=-all \
    timeout --preserve-status -s TERM 4 ristova-run --folder "$folder" >"$work/run2.out" 2>&1
  rc=$?
  set -e
  [ "$rc" = 0 ] || fail "ristova-run as ristova ended with $rc: $(cat "$work/run2.out")"
fi
grep -q ' state board ' "$work/run2.out" ||
  fail "no board state decoded by the installed plug-in: $(cat "$work/run2.out")"
[ "$(stat -c %U "$folder/运行记录.db")" = ristova ] || fail "the journal is not the account's"
"${as_root[@]}" kill "$sim" && wait "$sim" || true
sim=""

# An upgrade runs the maintainer scripts again; then everything goes.
"${as_root[@]}" dpkg -i "$deb" "$tools" >"$work/dpkg.out" 2>&1 ||
  fail "reinstall: $(cat "$work/dpkg.out")"
"${as_root[@]}" rm -rf "$folder"
folder=""
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq \
  -o DPkg::Lock::Timeout=600 ristova ristova-tools >"$work/apt.out" 2>&1 ||
  fail "apt purge: $(cat "$work/apt.out")"
installed=0
! dpkg-query -W -f='${Status}\n' ristova ristova-tools 2>/dev/null | grep -qv "not-installed" ||
  fail "left in dpkg's database: $(dpkg-query -W -f='${Package} ${Status}\n' ristova ristova-tools)"
left=$(while read -r f; do
  if [ -d "$f" ]; then
    case "$f" in */ristova | */ristova/* | */ristova-tools) echo "$f" ;; esac
  elif [ -e "$f" ] || [ -L "$f" ]; then
    echo "$f"
  fi
done <"$work/files")
[ -z "$left" ] || fail "left behind: $left"
[ ! -e /var/lib/ristova ] || fail "/var/lib/ristova is left behind"
echo "package checks passed: $(basename "$deb") $(basename "$tools")"
