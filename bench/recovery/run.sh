#!/bin/sh
# Builds the multiplication benchmark in its own Release folder and runs it
# on a file of random bytes (1 GiB by default) in the page cache: the
# recovery slices of 10 % at each grain.
# Usage: bench/recovery/run.sh [SIZE_MIB] [INPUT_SLICES...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${TESSERA_BENCH_BUILD:-$root/build-bench-recovery}
size=${1:-1024}
[ $# -gt 0 ] && shift
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESSERA_BUILD_UI=OFF -DTESSERA_BUILD_TESTS=OFF \
  -DTESSERA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target columns_bench -j2 >/dev/null
file=$(mktemp "${TMPDIR:-/var/tmp}/tessera-columns-XXXXXX")
trap 'rm -f "$file"' EXIT
head -c "$((size << 20))" /dev/urandom >"$file"
cat "$file" >/dev/null
for slices in ${*:-64 1000 2000}; do
  "$build/bench/recovery/columns_bench" "$file" "$slices" 10
done
