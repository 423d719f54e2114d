#!/bin/sh
# Builds the search benchmark in its own Release folder and runs it on files of
# SIZE_MIB (1024 by default) made in a temporary folder, removed afterwards.
# Usage: bench/search/run.sh [SIZE_MIB]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${TESSERA_BENCH_BUILD:-$root/build-bench-search}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESSERA_BUILD_UI=OFF -DTESSERA_BUILD_TESTS=OFF \
  -DTESSERA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target search_bench -j2 >/dev/null
data=$(mktemp -d "${TMPDIR:-/tmp}/tessera-bench-XXXXXX")
trap 'rm -rf "$data"' EXIT INT TERM
"$build/bench/search/search_bench" "$data" "${1:-1024}"
