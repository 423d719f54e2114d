#!/bin/sh
# Builds the dialog benchmark in a Release folder and runs it offscreen.
# Usage: bench/dialog/run.sh [PRESSES]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${TESSERA_BENCH_BUILD:-$root/build-bench-dialog}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESSERA_BUILD_TESTS=OFF -DTESSERA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target dialog_bench -j2 >/dev/null
"$build/bench/dialog/dialog_bench" "${1:-5}"
