#!/usr/bin/env bash
# Screenshots of each page of the window, for the manual: the built program
# on a demo folder with the simulated controller, on a virtual screen.
#   screenshots.sh [BUILD_DIR] [OUT_DIR]
# OUT_DIR defaults to BUILD_DIR/manual/screenshots.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
out=${2:-$build/manual/screenshots}
mkdir -p "$out"
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

RISTOVA_BUILD_DIR=$build "$here/scripts/prepare-demo.sh" "$work/demo" 4 >/dev/null
"$build/ristova-sim" --link "$work/demo/sim-tty" --relays 4 >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do [ -e "$work/demo/sim-tty" ] && break; sleep 0.05; done

cat >"$work/shoot.sh" <<'SHOOT'
#!/usr/bin/env bash
set -euo pipefail
demo=$1 out=$2
"$demo/ristova" --folder "$demo" &
app=$!
win=""
for _ in $(seq 1 100); do
  win=$(xdotool search --name "电源管理程序" 2>/dev/null | head -1 || true)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "the window did not appear" >&2; kill $app; exit 1; }
# The running plan's first answers arrive within a few seconds.
sleep 4
xdotool windowfocus --sync "$win" 2>/dev/null || true
# Each page by a click on its tab (the centres of the five tabs); a key
# press would be taken by the page's own focused widget.
for shot in monitor:65 setup:187 plan:299 about:394 history:466; do
  xdotool mousemove --window "$win" "${shot#*:}" 20 click 1
  sleep 0.7
  import -window "$win" "$out/${shot%%:*}.png"
done
kill -TERM $app
wait $app || true
SHOOT
chmod +x "$work/shoot.sh"
xvfb-run -a -s "-screen 0 1024x768x24" "$work/shoot.sh" "$work/demo" "$out"
ls "$out"
