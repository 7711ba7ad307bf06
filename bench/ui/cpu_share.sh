#!/usr/bin/env bash
# CPU share of the running program: a demo folder on the simulated
# controller, running started by the settings (a state query every second,
# the plan's commands every 5 seconds), headless. Samples the process's CPU
# time over a window and prints it as a share of one core.
#   cpu_share.sh [SECONDS]   (default 60, after 5 seconds of warm-up)
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${RISTOVA_BUILD_DIR:-$here/build}
seconds=${1:-60}
cmake --build "$build" -j2 --target ristova ristova-sim SimRelay >/dev/null

work=$(mktemp -d)
demo="$work/demo"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$here/scripts/prepare-demo.sh" "$demo" 8 >/dev/null
"$build/ristova-sim" --link "$demo/sim-tty" --relays 8 >/dev/null 2>&1 &
pids+=($!)
sim=$!
for _ in $(seq 1 100); do [ -e "$demo/sim-tty" ] && break; sleep 0.05; done
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/home" XDG_CONFIG_DIRS="$work/xdg" \
  "$demo/ristova" >/dev/null 2>&1 &
pids+=($!)
app=$!
sleep 5

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
a0=$(ticks "$app"); s0=$(ticks "$sim"); t0=$(date +%s.%N)
sleep "$seconds"
a1=$(ticks "$app"); s1=$(ticks "$sim"); t1=$(date +%s.%N)
rss=$(awk '/VmRSS/ {print $2}' "/proc/$app/status")
awk -v a=$((a1 - a0)) -v s=$((s1 - s0)) -v hz="$hz" -v t0="$t0" -v t1="$t1" -v rss="$rss" 'BEGIN {
  wall = t1 - t0
  printf "window: %.2f%% of one core over %.0f s (%.2f s CPU), resident %d KiB\n", 100 * a / hz / wall, wall, a / hz, rss
  printf "simulator: %.2f%% of one core\n", 100 * s / hz / wall
}'
