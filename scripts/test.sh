#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
# first the plain build, then the fuzz targets for a short run each, then the
# tests without widgets under ThreadSanitizer and the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, each in a build folder of
# its own (the configurations of CMakePresets.json). Stops at the first
# failure; the last line says how it ended and how long it took.
#   scripts/test.sh           every stage (what CI runs)
#   scripts/test.sh --quick   the plain suite only, for daily work
# The tests labelled "long" run only on demand: (cd build && ctest -C Long -L long).
set -euo pipefail
cd "$(dirname "$0")/.."
quick=false
case "${1:-}" in
  --quick) quick=true ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
# The last line: how it ended, after how long (bash counts SECONDS).
finished() {
  local status=$? how=passed
  [ "$status" -eq 0 ] || how="failed (exit status $status)"
  printf 'scripts/test.sh%s: %s in %d min %02d s\n' "$($quick && echo ' --quick')" "$how" \
    $((SECONDS / 60)) $((SECONDS % 60))
}
trap finished EXIT
scripts/deps.sh test
jobs=$(nproc)

# Any report fails the test that caused it.
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

stage() {
  local preset=$1 folder=$2
  shift 2
  cmake --preset "$preset" >/dev/null
  cmake --build "$folder" -j"$jobs"
  (cd "$folder" && QT_QPA_PLATFORM=offscreen "$@" ctest --no-tests=error --output-on-failure -j"$jobs" -LE long)
}

if $quick; then
  stage plain build
  exit 0
fi

stage plain build

if [ -f tests/fuzz/run.sh ]; then
  echo "== fuzz targets, 30 s each"
  sh tests/fuzz/run.sh 30
fi

echo "== ThreadSanitizer: file layer, planners and engine"
# This ThreadSanitizer cannot place its shadow memory when the kernel
# randomises more than 28 bits of the address space: run without it then.
tsan_run=()
if [ "$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 0)" -gt 28 ] &&
   setarch "$(uname -m)" -R true 2>/dev/null; then
  tsan_run=(setarch "$(uname -m)" -R)
fi
stage tsan build-tsan "${tsan_run[@]}"

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: the whole suite"
stage asan build-asan
