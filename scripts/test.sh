#!/usr/bin/env bash
# Installs what is missing, builds and runs every check, one step after the
# other, and prints how long each step took:
#   plain  build with warnings as errors, the whole suite (every label)
#   asan   AddressSanitizer + UndefinedBehaviorSanitizer (Debug), whole suite
#   tsan   ThreadSanitizer: the event loop, serial, run engine and window tests
#   fuzz   each fuzz target for RISTOVA_FUZZ_SECONDS (default 25)
#
#   scripts/test.sh                  all steps
#   scripts/test.sh --quick [ARGS]   the plain step only; ARGS go to ctest
#   scripts/test.sh --steps plain,tsan
#
# A step is a function step_<name> below; add one and name it in all_steps.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${RISTOVA_BUILD_DIR:-$here/build}
all_steps=(plain asan tsan fuzz)
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
ctest_run() {
  ctest --test-dir "$1" --output-on-failure -j2 --timeout 300 "${@:2}" "${ctest_args[@]}"
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
