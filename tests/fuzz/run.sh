#!/bin/sh
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in a folder of their own. Each target first runs
# over its seed corpus (tests/fuzz/corpus/TARGET, past findings among them),
# then fuzzes for SECONDS (30 by default) from those seeds. Prints the
# executions each reached; fails on any finding (the reproducer is kept in
# the artifacts folder it names). What the fuzzer adds to the corpus stays in
# a temporary folder: only the seeds belong in the repository.
# Usage: tests/fuzz/run.sh [SECONDS]
set -eu
seconds=${1:-30}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$root/build-fuzz
seeds=$here/corpus

(cd "$root" && cmake --preset fuzz >/dev/null)
cmake --build "$build" --target fuzz_targets -j2 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-fuzz-XXXXXX")
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"
trap 'rm -rf "$work"' EXIT INT TERM

failed=0
for target in ParseNumber Boundaries HexPattern ShiftJis Search PlanText SizeText Manifest Par2Reader Snap; do
  fuzzer=$build/tests/fuzz/${target}_fuzz
  corpus=$work/$target
  mkdir -p "$corpus"
  [ -d "$seeds/$target" ] || { echo "$target: no seed corpus in $seeds/$target"; failed=1; continue; }
  # The seeds alone first: a known finding fails here, whatever the fuzzing finds.
  if ! UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
     "$fuzzer" -runs=0 -artifact_prefix="$artifacts/$target-" "$seeds/$target" >"$work/$target.seeds.log" 2>&1; then
    echo "$target: FINDING in the seed corpus"
    grep -E 'finding:|ERROR|SUMMARY|runtime error|artifact|Running:' "$work/$target.seeds.log" | head -n 20
    failed=1
    continue
  fi
  log=$work/$target.log
  if UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
     "$fuzzer" "$corpus" "$seeds/$target" -max_total_time="$seconds" -max_len=4096 \
       -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
       >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "$target: seeds pass; ${runs:-?} executions in ${seconds} s, no finding"
  else
    echo "$target: FINDING"
    grep -E 'finding:|ERROR|SUMMARY|runtime error|artifact' "$log" | head -n 20
    failed=1
  fi
done
exit $failed
