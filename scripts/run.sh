#!/usr/bin/env bash
# Installs what building and running need, when missing, builds tessera and
# tessera-cli (in build-run/, without the tests) and starts the window with
# the arguments given. Without a display it says how to start the window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build-run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_BUILD_UI=ON \
  -DTESSERA_BUILD_TESTS=OFF -DTESSERA_BUILD_BENCH=OFF >/dev/null
cmake --build build-run --target tessera tessera-cli -j"$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display; start the window with: xvfb-run -a build-run/src/app/tessera, or split and join with build-run/src/cli/tessera-cli --help" >&2
  exit 1
fi
exec build-run/src/app/tessera "$@"
