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
controller="模拟继电器控制器"

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

# A fresh demo folder: the program is copied (its folder is the program
# folder), the decoder goes into PowerDll/.
rm -rf "$demo"
mkdir -p "$demo/PowerDll" "$demo/$controller"
cp "$build/ristova" "$demo/ristova"
cp "$build/PowerDll/SimRelay.so" "$demo/PowerDll/"
link="$demo/sim-tty"

# Files of the program are code page 936 with CR LF line ends.
gbk() { sed 's/$/\r/' | iconv -f UTF-8 -t GB18030; }

uses_no=(照明 空调 电脑 音响)
uses_nc=(风扇 水泵 不存在 投影)
{
  echo "[LOAD]"
  echo "FLAG=Quelmar电源控制文件"
  echo "spComChl=$relays"
  echo "sPowerDllFn=SimRelay.so"
  echo "edStateCmd=$(printf 'Q(00)E' | od -An -tx1 | tr -d ' \n' | tr a-f A-F)"
  echo "[COMM]"
  echo "COMM1=$link"
  echo "edBound=9600"
  echo "edTimeOut=20"
  echo "ByteSize=3"
  echo "StopBits=0"
  echo "Parity=0"
  echo "[COMMAND]"
  echo "Row0=继电器^^接通指令^^断开指令^^常开触点用途^^常闭触点用途^^启动时接通^^"
  for r in $(seq 1 $relays); do
    printf 'Row%d=%4d^^%s^^%s^^%s^^%s^^ X^^\n' "$r" "$r" \
      "$("$build/ristova-sim" --command "$r" on)" "$("$build/ristova-sim" --command "$r" off)" \
      "${uses_no[r-1]}" "${uses_nc[r-1]}"
  done
  echo "[DESCRIPT]"
  echo "SPECIF=演示用的模拟继电器控制器(ristova-sim)╋"
} | gbk >"$demo/$controller.PSW"

{
  echo "[LOAD]"
  echo "chk4Level=YES"
  echo "chkRun=YES"
  echo "chkStartON=NO"
  echo "chkAutoDelete=NO"
  echo "chkManOperate=YES"
  echo "sPowerFn=$controller.PSW"
  echo "[EDIT]"
  echo "sPowerFn=$controller.PSW"
  echo "cbEdFn=计划表.tab"
  echo "[RUN]"
  echo "sPowerFn=$controller.PSW"
} | gbk >"$demo/系统参数.INI"

# The default plan: from 20 s from now, every 5 s the next relay switches
# on, then each switches off in turn; three rounds.
now=$(( $(date +%-H) * 3600 + $(date +%-M) * 60 + $(date +%-S) ))
{
  row=1
  t=$((now + 20))
  for round in 1 2 3; do
    for action in 接通 断开; do
      for r in $(seq 1 $relays); do
        s=$((t % 86400))
        printf '%3d^^%d^^%02d:%02d:%02d^^%s^^%s^^%s^^\n' "$row" "$r" $((s / 3600)) $((s % 3600 / 60)) \
          $((s % 60)) "$action" "${uses_no[r-1]}" "${uses_nc[r-1]}"
        row=$((row + 1))
        t=$((t + 5))
      done
    done
  done
} | gbk >"$demo/$controller/计划表.tab"

sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -f "$link"
}
trap stop_sim EXIT

"$build/ristova-sim" --link "$link" --relays "$relays" &
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
echo "Simulated controller on $link; the first relay switches at $(date -d "@$(( $(date +%s) + 20 ))" +%T)."
"${launcher[@]}" "$demo/ristova"
