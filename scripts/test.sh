#!/usr/bin/env bash
# Installs what is missing, builds and runs every check, one step after the
# other, and prints how long each step took:
#   plain  build with warnings as errors, the whole suite (every label)
#   asan   AddressSanitizer + UndefinedBehaviorSanitizer (Debug), whole suite
#   tsan   ThreadSanitizer: the event loop, serial, run engine and window tests
#   fuzz   each fuzz target for RISTOVA_FUZZ_SECONDS (default 25)
#   win64  the Windows cross-build (kit in ../shared/win64 or $RISTOVA_WIN64_KIT)
#          under Wine: core, serial, decoder (32-bit too) and run tests, the
#          runner end to end, the window's pages, the installer
#
#   scripts/test.sh                  all steps
#   scripts/test.sh --quick [ARGS]   the plain step only; ARGS go to ctest
#   scripts/test.sh --steps plain,tsan
#
# A step is a function step_<name> below; add one and name it in all_steps.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${RISTOVA_BUILD_DIR:-$here/build}
all_steps=(plain asan tsan fuzz win64)
steps=("${all_steps[@]}")
ctest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) steps=(plain); shift ;;
    --steps) IFS=, read -r -a steps <<<"$2"; shift 2 ;;
    *) ctest_args+=("$1"); shift ;;
  esac
done

export CCACHE_DIR=${CCACHE_DIR:-$HOME/.ccache} CCACHE_BASEDIR=$here CCACHE_NOHASHDIR=1
export QT_QPA_PLATFORM=offscreen
# ctest_jobs: how many tests at once (2 unless a step says otherwise).
ctest_run() {
  ctest --test-dir "$1" --output-on-failure -j"${ctest_jobs:-2}" --timeout 300 "${@:2}" \
    "${ctest_args[@]}"
}

step_plain() {
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRISTOVA_WERROR=ON >/dev/null
  nice cmake --build "$build" -j2
  ctest_run "$build"
}

asan_flags="-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=undefined"
step_asan() {
  local dir=$here/build-asan
  cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DRISTOVA_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="$asan_flags" -DCMAKE_CXX_FLAGS="$asan_flags" >/dev/null
  nice cmake --build "$dir" -j2
  export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # The package check builds its own plain tree; the plain step runs it.
  ctest_run "$dir" -LE '^(slow|package)$'
  # Timing scenarios miss their marks now and then on a sanitized build of a
  # busy machine, so they get a second try.
  ctest_run "$dir" -L slow --repeat until-pass:2
}

# The tests that run threads against real pseudo-terminals and the window.
tsan_targets=(base_tests comm_tests run_tests ui_tests)
tsan_labels='^(base|comm|run|ui)$'
step_tsan() {
  local dir=$here/build-tsan
  cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRISTOVA_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="-fsanitize=thread" -DCMAKE_CXX_FLAGS="-fsanitize=thread" >/dev/null
  nice cmake --build "$dir" -j2 --target "${tsan_targets[@]}"
  TSAN_OPTIONS="suppressions=$here/scripts/sanitizers/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
    ctest_run "$dir" -L "$tsan_labels"
}

step_fuzz() {
  "$here/scripts/fuzz.sh" "${RISTOVA_FUZZ_SECONDS:-25}"
}

# Windows: the kit's cross-build of what is tested here, run under Wine in a
# prefix of its own. Serial lines are pseudo-terminals linked as COM ports
# (before the wineserver starts, which registers ports only then); the kit's
# ptymodem.so gives them the modem lines that Wine's WaitCommEvent polls.
# The 32-bit decoder host and its test plug-ins need the i686 compiler, and
# wine32 (i386 multiarch) to run.
win64_packages=(wine wine64 wine32:i386 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  python3 fonts-liberation qt6-base-dev qt6-base-dev-tools)
win64_targets=(base_tests comm_tests controller_tests run_tests api_tests ristova-run ristova-ctl
  ristova-decoder-host
  ristova-x86 SimRelay)
step_win64() {
  # Beside the repository, or beside the folder of worktrees.
  local kit=${RISTOVA_WIN64_KIT:-$here/../shared/win64}
  if [ -z "${RISTOVA_WIN64_KIT:-}" ] && [ ! -d "$kit" ] && [ -d "$here/../../shared/win64" ]; then
    kit=$here/../../shared/win64
  fi
  if [ ! -f "$kit/toolchain-mingw64.cmake" ]; then
    echo "win64: skipped, no Windows kit at $kit. Make one with the kit's BUILD.sh" \
      "(nice -n 19 BUILD.sh, about 20 minutes on 2 cores; see its README.md) and name its" \
      "folder in RISTOVA_WIN64_KIT."
    return 0
  fi
  kit=$(cd "$kit" && pwd)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $([ "$(id -u)" -eq 0 ] || echo sudo) dpkg --add-architecture i386
  fi
  "$here/scripts/install-deps.sh" "${win64_packages[@]}"
  local dir=$here/build-win64
  cmake -S "$here" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$kit/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DRISTOVA_WERROR=ON -DRISTOVA_BUILD_UI=ON \
    -DRISTOVA_BUILD_BENCH=OFF >/dev/null
  nice cmake --build "$dir" -j2 --target "${win64_targets[@]}"
  # The Linux simulator is the controller at the far end of the runner.
  if [ ! -x "$build/ristova-sim" ]; then
    cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRISTOVA_WERROR=ON >/dev/null
    nice cmake --build "$build" -j2 --target ristova-sim
  fi

  # Globals: the trap runs after the function has returned.
  work=$(mktemp -d /tmp/ristova-win64.XXXXXX)
  export WINEPREFIX=$work/prefix
  pids=()
  # shellcheck disable=SC2317  # called by the trap
  win64_cleanup() {
    wineserver -k 2>/dev/null || true
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
  }
  # The step runs in a subshell of its own: its end is this shell's exit.
  trap win64_cleanup EXIT
  "$kit/wine-run.sh" --init-prefix
  # COM11-COM14 for the serial tests (a fresh line for each test), COM5 the
  # simulated controller of the end-to-end run.
  python3 "$here/tests/support/win32/far_end.py" "$WINEPREFIX/dosdevices" 11 4 \
    "$work/far-end.port" &
  pids+=($!)
  "$build/ristova-sim" --relays 2 --link "$WINEPREFIX/dosdevices/com5" --log "$work/sim.log" \
    2>"$work/sim.err" &
  pids+=($!)
  local i
  for i in $(seq 100); do
    [ -s "$work/far-end.port" ] && [ -e "$WINEPREFIX/dosdevices/com5" ] && break
    sleep 0.1
  done
  [ -s "$work/far-end.port" ] && [ -e "$WINEPREFIX/dosdevices/com5" ]
  export LD_PRELOAD=$kit/tools/ptymodem.so
  # Its object dump at exit after serial use is noise.
  wineserver -p >/dev/null 2>&1
  # The first program starts Wine's services, which keep its output open:
  # not ctest's pipe, or ctest would wait for them.
  "$kit/wine-run.sh" "$dir/base_tests.exe" --gtest_list_tests </dev/null >/dev/null 2>&1
  # One at a time: the serial tests share the far end's four lines, and a
  # test that hangs up and opens its line again must find it still free.
  RISTOVA_FAR_END=$(cat "$work/far-end.port") ctest_jobs=1 \
    ctest_run "$dir" -L '^(base|comm|controller|run|api)$' -LE wine-skip

  # The runner end to end: a plan of one action a second over COM5, each
  # command in the simulator's log within its planned second. Seconds past
  # midnight would belong to tomorrow's plan: wait for tomorrow instead.
  local demo=$work/demo relays=2 start=6 actions=12 left
  left=$(( 86400 - $(date -u +%s) % 86400 ))
  [ "$left" -gt 90 ] || sleep $((left + 2))
  RISTOVA_BUILD_DIR=$dir RISTOVA_DEMO_PORT=COM5 RISTOVA_DEMO_PLUGIN=SimRelay.dll \
    RISTOVA_DEMO_START=$start RISTOVA_DEMO_STEP=1 TZ=UTC \
    "$here/scripts/prepare-demo.sh" "$demo" $relays
  # It runs until stopped; Wine hands the interrupt on as a console's Ctrl+C.
  TZ=UTC timeout -k 5 -s INT $((start + actions + 4)) \
    "$kit/wine-run.sh" "$dir/ristova-run.exe" --folder "Z:${demo//\//\\}" \
    >"$work/run.out" 2>&1 || true
  echo "ristova-run.exe under Wine:"
  python3 "$here/scripts/check-run-log.py" "$demo/模拟继电器控制器/计划表.tab" "$work/sim.log" ||
    { cat "$work/run.out" "$work/sim.err"; return 1; }

  # The local API under Wine: ristova-ctl.exe asks and switches through
  # the runner's socket file, which names a loopback port and a token.
  # A clean stop takes the file away again.
  TZ=UTC timeout -k 5 -s INT 120 \
    "$kit/wine-run.sh" "$dir/ristova-run.exe" --folder "Z:${demo//\//\\}" \
    >"$work/run-api.out" 2>&1 &
  local runner=$! ctl=("$kit/wine-run.sh" "$dir/ristova-ctl.exe" --folder "Z:${demo//\//\\}")
  for i in $(seq 300); do
    [ -s "$demo/.ristova.sock" ] && break
    sleep 0.1
  done
  "$here/tests/support/win32/check-ctl.sh" "$demo" "$work/sim.log" "${ctl[@]}" ||
    { cat "$work/run-api.out"; return 1; }
  kill -INT "$runner"
  wait "$runner" || true
  [ ! -e "$demo/.ristova.sock" ] ||
    { echo "ristova-run.exe left its socket file"; cat "$work/run-api.out"; return 1; }

  # The same plan by the Linux runner on the same simulator, for comparison.
  [ -x "$build/ristova-run" ] || nice cmake --build "$build" -j2 --target ristova-run
  RISTOVA_DEMO_PORT=$WINEPREFIX/dosdevices/com5 RISTOVA_DEMO_START=3 RISTOVA_DEMO_STEP=1 TZ=UTC \
    "$here/scripts/prepare-demo.sh" "$demo" $relays >/dev/null
  TZ=UTC timeout -k 5 -s INT $((3 + actions + 3)) "$build/ristova-run" --folder "$demo" \
    >"$work/run-linux.out" 2>&1 || true
  echo "ristova-run on Linux:"
  python3 "$here/scripts/check-run-log.py" "$demo/模拟继电器控制器/计划表.tab" "$work/sim.log" ||
    { cat "$work/run-linux.out"; return 1; }

  # The window under Xvfb on the same simulator, a photograph of each page in
  # build-win64/screenshots. A fresh wineserver, so that Wine's desktop
  # process starts inside the display.
  nice cmake --build "$dir" -j2 --target ristova
  RISTOVA_BUILD_DIR=$dir RISTOVA_DEMO_PORT=COM5 RISTOVA_DEMO_PLUGIN=SimRelay.dll \
    "$here/scripts/prepare-demo.sh" "$demo" $relays >/dev/null
  wineserver -k 2>/dev/null || true
  wineserver -w
  # Not offscreen: the window chooses its platform itself.
  env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1024x768x24" \
    "$here/scripts/window-pages.sh" "$kit" \
    "$dir/ristova.exe" "Z:${demo//\//\\}" "$dir/screenshots"
  wineserver -k 2>/dev/null || true
  wineserver -w

  # The installer: a silent install, the installed runner with nothing but
  # its own folder to find DLLs in, a silent uninstall that leaves nothing.
  nice cmake --build "$dir" --target installer
  local setup version installed=$WINEPREFIX/drive_c/Program\ Files/Ristova
  setup=$(ls "$dir"/ristova-setup-*.exe)
  echo "installer: $(basename "$setup"), $(du -k "$setup" | cut -f1) KiB"
  WINEDEBUG=-all wine "$setup" /S </dev/null >/dev/null 2>&1
  [ -x "$installed/ristova-run.exe" ] && [ -f "$installed/lib/PowerDll/SimRelay.dll" ]
  [ -x "$installed/ristova-ctl.exe" ] && [ -f "$installed/web/index.html" ]
  version=$(WINEDEBUG=-all wine 'C:\Program Files\Ristova\ristova-run.exe' --version </dev/null 2>/dev/null)
  version=${version//$'\r'/}
  echo "installed: $version"
  [[ $version == *"$(sed -n 's/^project(Ristova VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")"* ]]
  WINEDEBUG=-all wine 'C:\Program Files\Ristova\uninstall.exe' /S </dev/null >/dev/null 2>&1
  # The uninstaller goes on from a copy of itself.
  for i in $(seq 300); do
    [ -e "$installed" ] || break
    sleep 0.1
  done
  [ ! -e "$installed" ] || { echo "the uninstaller left: $(ls -R "$installed")"; return 1; }
}

"$here/scripts/install-deps.sh"
times=()
for s in "${steps[@]}"; do
  if ! declare -F "step_$s" >/dev/null; then
    echo "No step \"$s\"; steps: ${all_steps[*]}" >&2
    exit 2
  fi
  echo "=== step $s"
  start=$(date +%s)
  # Not "|| status=$?": that would switch errexit off inside the step.
  set +e
  ( set -e; "step_$s" )
  status=$?
  set -e
  took=$(( $(date +%s) - start ))
  times+=("$(printf '%-6s %4d:%02d  %s' "$s" $((took / 60)) $((took % 60)) \
    "$([ $status -eq 0 ] && echo passed || echo FAILED)")")
  if [ $status -ne 0 ]; then
    printf '%s\n' "=== steps" "${times[@]}"
    exit "$status"
  fi
done
printf '%s\n' "=== steps" "${times[@]}"
