#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
# first the plain build, then the fuzz targets for a short run each, then the
# tests without widgets under ThreadSanitizer and the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, each in a build folder of
# its own. Stops at the first failure; the last lines are a ctest summary.
# The tests labelled "long" run only on demand: (cd build && ctest -C Long -L long).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_BUILD_UI=ON -DTESSERA_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && QT_QPA_PLATFORM=offscreen ctest --no-tests=error --output-on-failure -j"$jobs" -LE long)

if [ -f tests/fuzz/run.sh ]; then
  echo "== fuzz targets, 30 s each"
  sh tests/fuzz/run.sh 30
fi

# Any report fails the test that caused it.
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

echo "== ThreadSanitizer: file layer, planners and engine"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_SANITIZE=thread \
  -DTESSERA_BUILD_UI=OFF -DTESSERA_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs"
# This ThreadSanitizer cannot place its shadow memory when the kernel
# randomises more than 28 bits of the address space: run without it then.
tsan_run=()
if [ "$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 0)" -gt 28 ] &&
   setarch "$(uname -m)" -R true 2>/dev/null; then
  tsan_run=(setarch "$(uname -m)" -R)
fi
(cd build-tsan && "${tsan_run[@]}" ctest --no-tests=error --output-on-failure -j"$jobs" -LE long)

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: the whole suite"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_SANITIZE=address,undefined \
  -DTESSERA_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && QT_QPA_PLATFORM=offscreen ctest --no-tests=error --output-on-failure -j"$jobs" -LE long)
