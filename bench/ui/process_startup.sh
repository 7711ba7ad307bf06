#!/usr/bin/env bash
# Time from starting the program to its window being mapped, on a virtual
# screen, in a folder with 30 controllers and 1,000 plan tables (running
# starts by the settings). Needs xvfb-run and xdotool.
#   process_startup.sh [RUNS]   (default 7; prints each run and the median)
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${RISTOVA_BUILD_DIR:-$here/build}
runs=${1:-7}
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
command -v xdotool >/dev/null || { echo "xdotool is needed (apt-get install xdotool)" >&2; exit 2; }
cmake --build "$build" -j2 --target ristova bench_window_startup >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench_window_startup" --prepare "$work/prog"
cp "$build/ristova" "$work/prog/ristova"
times=()
for i in $(seq 1 "$runs"); do
  start=$(date +%s%N)
  XDG_CONFIG_HOME="$work/home" XDG_CONFIG_DIRS="$work/xdg" "$work/prog/ristova" 2>/dev/null &
  pid=$!
  # xdotool's own --sync waits in half seconds: poll finer.
  polls=0
  until xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1; do
    sleep 0.01
    polls=$((polls + 1))
    if [ "$polls" -gt 3000 ]; then
      echo "no window after 30 s" >&2
      kill "$pid"
      exit 1
    fi
  done
  end=$(date +%s%N)
  kill "$pid"
  wait "$pid" || true
  times+=($(( (end - start) / 1000000 )))
  echo "run $i: ${times[-1]} ms"
done
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print "median: " a[int((NR+1)/2)] " ms to the mapped window"}'
