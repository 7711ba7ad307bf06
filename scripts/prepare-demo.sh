#!/usr/bin/env bash
# Writes a demo program folder for the simulated relay controller:
#   prepare-demo.sh FOLDER [RELAYS]
# The built window copied in (when built), the simulator's decoder in
# PowerDll/, a controller "模拟继电器控制器.PSW" whose port is FOLDER/sim-tty (the link
# that "ristova-sim --link" makes), settings that start running at once, and
# a default plan that switches every relay on and then off again, one action
# every 5 seconds from 20 seconds from now, three rounds.
# For a Windows build (the win64 test step): RISTOVA_DEMO_PORT names the
# controller's port (e.g. COM5), RISTOVA_DEMO_PLUGIN the decoder file
# (SimRelay.dll), RISTOVA_DEMO_START and RISTOVA_DEMO_STEP the seconds to the
# first action and between actions.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${RISTOVA_BUILD_DIR:-$here/build}
demo=${1:?usage: prepare-demo.sh FOLDER [RELAYS]}
relays=${2:-4}
controller="模拟继电器控制器"

# Only a folder that this script made is cleared.
if [ -d "$demo" ] && [ -n "$(ls -A "$demo")" ] && [ ! -e "$demo/.ristova-demo" ]; then
  echo "$demo is not empty and not a demo folder; not touching it." >&2
  exit 1
fi
rm -rf "$demo"
mkdir -p "$demo"
touch "$demo/.ristova-demo"
mkdir -p "$demo/PowerDll" "$demo/$controller"
# The program is copied, not linked: its own folder is the program folder.
# A build without the window (-DRISTOVA_BUILD_UI=OFF) still makes a folder
# for ristova-run --folder.
if [ -e "$build/ristova" ]; then
  cp "$build/ristova" "$demo/ristova"
fi
plugin=${RISTOVA_DEMO_PLUGIN:-SimRelay.so}
cp "$build/PowerDll/$plugin" "$demo/PowerDll/"
link=${RISTOVA_DEMO_PORT:-$demo/sim-tty}
start=${RISTOVA_DEMO_START:-20}
step=${RISTOVA_DEMO_STEP:-5}

# Files of the program are code page 936 with CR LF line ends; commands
# are hex text of the simulator's protocol (see tools/simulator/RelayBoard.h).
hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n' | tr a-f A-F; }
gbk() { sed 's/$/\r/' | iconv -f UTF-8 -t GB18030; }

uses_no=(照明 空调 电脑 音响)
uses_nc=(风扇 水泵 不存在 投影)
{
  echo "[LOAD]"
  echo "FLAG=Quelmar电源控制文件"
  echo "spComChl=$relays"
  echo "sPowerDllFn=$plugin"
  echo "edStateCmd=$(hex 'Q(00)E')"
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
      "$(hex "$(printf 'O(00,%02d,1)E' "$r")")" "$(hex "$(printf 'O(00,%02d,0)E' "$r")")" \
      "${uses_no[(r-1)%4]}" "${uses_nc[(r-1)%4]}"
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

now=$(( $(date +%-H) * 3600 + $(date +%-M) * 60 + $(date +%-S) ))
{
  row=1
  t=$((now + start))
  for round in 1 2 3; do
    for action in 接通 断开; do
      for r in $(seq 1 $relays); do
        s=$((t % 86400))
        printf '%3d^^%d^^%02d:%02d:%02d^^%s^^%s^^%s^^\n' "$row" "$r" $((s / 3600)) $((s % 3600 / 60)) \
          $((s % 60)) "$action" "${uses_no[(r-1)%4]}" "${uses_nc[(r-1)%4]}"
        row=$((row + 1))
        t=$((t + step))
      done
    done
  done
} | gbk >"$demo/$controller/计划表.tab"
first=$(( (now + start) % 86400 ))
printf 'Demo plan: the first relay switches at %02d:%02d:%02d, then one action every %d s.\n' \
  $((first / 3600)) $((first % 3600 / 60)) $((first % 60)) "$step"
