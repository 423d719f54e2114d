#!/bin/sh
# Builds the GF(2^16) benchmark in its own Release folder and runs it: GB/s
# of input times factors, for every kernel this processor runs.
# Usage: bench/gf16/run.sh [SECONDS_PER_FIGURE]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${TESSERA_BENCH_BUILD:-$root/build-bench-gf16}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESSERA_BUILD_UI=OFF -DTESSERA_BUILD_TESTS=OFF \
  -DTESSERA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target gf16_bench -j2 >/dev/null
"$build/bench/gf16/gf16_bench" "$@"
