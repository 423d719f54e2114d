#!/bin/sh
# Builds the transfer benchmark and runs it on a scratch folder of the disk
# that holds the build.
#   bench/transfer/run.sh [size in MiB, default 1024] [build folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
size=${1:-1024}
build=${2:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target transfer_bench -j2 >/dev/null
scratch=$(mktemp -d "${TMPDIR:-/var/tmp}/tessera-bench-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
"$build/bench/transfer/transfer_bench" "$scratch" "$size"
