#!/usr/bin/env bash
# The Windows window under Wine, on the X display this runs on (xvfb-run):
#   window-pages.sh KIT RISTOVA_EXE FOLDER OUTDIR
# starts RISTOVA_EXE --folder FOLDER (a Windows path), waits for its window,
# clicks each of the five tabs and saves OUTDIR/<page>.png, then stops the
# run and closes the window as an operator would. It fails when no window
# comes up or a page is blank (one colour); a window that does not close is
# only reported, and killed.
set -euo pipefail
kit=$1 exe=$2 folder=$3 out=$4
rm -rf "$out"
mkdir -p "$out"
"$kit/wine-run.sh" "$exe" --folder "$folder" </dev/null >"$out/ristova.out" 2>&1 &
app=$!
trap 'kill $app 2>/dev/null || true' EXIT

colours() { identify -format '%k' "$1" 2>/dev/null || echo 0; }

win=
for _ in $(seq 1200); do
  win=$(xdotool search --onlyvisible --name '电源管理程序' 2>/dev/null | head -1 || true)
  [ -n "$win" ] && break
  kill -0 $app 2>/dev/null || break
  sleep 0.1
done
if [ -z "$win" ]; then
  echo "window pages: no window came up; its output:"
  cat "$out/ristova.out"
  exit 1
fi
# Painted: more than the background's colour.
for _ in $(seq 600); do
  import -window "$win" "$out/first.png" 2>/dev/null && [ "$(colours "$out/first.png")" -gt 1 ] &&
    break
  sleep 0.1
done
rm -f "$out/first.png"
# The tabs' places in the window (the pages are laid out in fixed places).
pages=(monitor:65 setup:187 plan:299 about:394 history:466)
for page in "${pages[@]}"; do
  xdotool mousemove --window "$win" "${page#*:}" 20 click 1
  sleep 1.5
  import -window "$win" "$out/${page%%:*}.png"
done

# Stop the run (closing while it runs would ask), then Alt+F4.
xdotool mousemove --window "$win" 65 20 click 1
sleep 0.5
xdotool mousemove --window "$win" 96 49 click 1
sleep 0.5
xdotool key --window "$win" alt+F4 2>/dev/null
closed=no
for _ in $(seq 300); do
  kill -0 $app 2>/dev/null || { closed=yes; break; }
  sleep 0.1
done
if [ $closed = yes ]; then
  status=0
  wait $app || status=$?
  echo "window pages: closed, exit status $status"
else
  echo "window pages: the window did not close within 30 s; killed"
fi

blank=0
for page in "${pages[@]}"; do
  f=$out/${page%%:*}.png
  n=$(colours "$f")
  echo "window pages: $f, $n colours"
  [ "$n" -gt 1 ] || blank=1
done
exit $blank
