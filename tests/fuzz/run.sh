#!/bin/sh
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in a folder of their own, then runs each for
# SECONDS (30 by default). Prints the executions each reached; fails on any
# finding (the reproducer is kept in the artifacts folder it names).
# Usage: tests/fuzz/run.sh [SECONDS]
set -eu
seconds=${1:-30}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$root/build-fuzz

(cd "$root" && cmake --preset fuzz >/dev/null)
cmake --build "$build" --target fuzz_targets -j2 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-fuzz-XXXXXX")
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"
trap 'rm -rf "$work"' EXIT INT TERM

failed=0
for target in ParseNumber Boundaries HexPattern ShiftJis Search PlanText Manifest; do
  corpus=$work/$target
  mkdir -p "$corpus"
  log=$work/$target.log
  if UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
     "$build/tests/fuzz/${target}_fuzz" "$corpus" -max_total_time="$seconds" -max_len=4096 \
       -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
       >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "$target: ${runs:-?} executions in ${seconds} s, no finding"
  else
    echo "$target: FINDING"
    grep -E 'finding:|ERROR|SUMMARY|runtime error|artifact' "$log" | head -n 20
    failed=1
  fi
done
exit $failed
