#!/usr/bin/env bash
# Builds the program and starts it on a demo folder (demo-run/) wired to the
# simulated relay controller: no hardware needed. The demo plan switches
# every relay on and then off again, starting 20 seconds from now, and
# running starts at once, so relays switch within the first minute.
# Closing the window stops the simulator.
#
#   RISTOVA_BUILD_DIR  build folder (default build/)
#   RISTOVA_DEMO_DIR   demo program folder (default demo-run/)
#   RISTOVA_DEMO_XVFB  1: without a display, run under xvfb-run
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${RISTOVA_BUILD_DIR:-$here/build}
demo=${RISTOVA_DEMO_DIR:-$here/demo-run}
relays=4

"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target ristova ristova-sim SimRelay

launcher=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  if [ "${RISTOVA_DEMO_XVFB:-0}" = 1 ]; then
    launcher=(xvfb-run -a -s "-screen 0 1024x768x24")
  else
    echo "No display: DISPLAY and WAYLAND_DISPLAY are unset." >&2
    echo "Run this script from a desktop session, or start it on a virtual screen:" >&2
    echo "  RISTOVA_DEMO_XVFB=1 $0" >&2
    exit 2
  fi
fi

"$here/scripts/prepare-demo.sh" "$demo" "$relays"
link="$demo/sim-tty"

sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -f "$link"
}
trap stop_sim EXIT

# The simulator logs every command it receives.
"$build/ristova-sim" --link "$link" --relays "$relays" >"$demo/ristova-sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do
  [ -e "$link" ] && break
  sleep 0.05
done
if [ ! -e "$link" ]; then
  echo "The simulated controller did not start." >&2
  exit 1
fi

echo "Demo folder: $demo"
echo "Simulated controller on $link (commands it receives: $demo/ristova-sim.log)."
"${launcher[@]}" "$demo/ristova"
