#!/usr/bin/env bash
# Installs what is missing, builds with two jobs and runs every test.
# Slow timing and fault scenarios are labelled "slow" and run last.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${RISTOVA_BUILD_DIR:-$here/build}

"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 "$@"
