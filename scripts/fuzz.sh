#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer) in build-fuzz/
# and runs each one for a bounded time on its checked-in seed corpus.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   (default 25 s each, all targets)
#
# A crash, a time-out (over 1 s for one input) or a failed property fails the
# run; the reproducer is printed in hex and kept in build-fuzz/artifacts/.
# Inputs found on the way stay in build-fuzz/corpus/<target>/ for the next run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${RISTOVA_FUZZ_BUILD_DIR:-$here/build-fuzz}
seconds=${1:-25}
[ $# -gt 0 ] && shift
sanitize="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DRISTOVA_BUILD_UI=OFF -DRISTOVA_BUILD_BENCH=OFF -DRISTOVA_BUILD_FUZZ=ON \
  -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize" >/dev/null
nice cmake --build "$build" -j2 --target fuzz_all

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for d in "$here"/fuzz/corpus/*/; do targets+=("$(basename "$d")"); done
fi

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
summary=()
mkdir -p "$build/artifacts"
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  log="$build/artifacts/$t.log"
  mkdir -p "$corpus"
  rm -f "$build/artifacts/$t-"*
  echo "== fuzz $t (${seconds} s)"
  status=0
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=1 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t-" "$corpus" "$here/fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -ne 0 ]; then
    failed+=("$t")
    summary+=("$(printf '%-18s FAILED (exit %s)' "$t" "$status")")
    grep -E 'ERROR|property failed|SUMMARY|timeout|==[0-9]+==' "$log" | head -20 || true
    for a in "$build/artifacts/$t-"*; do
      [ -f "$a" ] && [ "$a" != "$log" ] || continue
      echo "reproducer $a ($(stat -c %s "$a") bytes), hex:"
      od -An -tx1 -v "$a" | head -64
    done
    echo "(log: $log)"
  else
    summary+=("$(printf '%-18s %8s exec/s %10s runs' "$t" "${rate:-?}" "${runs:-?}")")
  fi
done

echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
[ ${#failed[@]} -eq 0 ]
