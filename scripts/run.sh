#!/usr/bin/env bash
# Installs what building and running need, when missing, builds tessera and
# tessera-cli with their manual pages (in build-run/, without the tests) and
# starts the window with the arguments given, which are taken from the folder
# this script was started in. Without a display it says how to start the
# window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" run
cmake -S "$root" -B "$root/build-run" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_BUILD_UI=ON \
  -DTESSERA_BUILD_TESTS=OFF -DTESSERA_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-run" --target tessera tessera-man tessera-cli tessera-cli-man -j"$(nproc)"
# The programs as the caller reaches them from where they stand.
bin=$root/build-run/src
[ "$PWD" = "$root" ] && bin=build-run/src
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display; start the window with: xvfb-run -a $bin/app/tessera, or split and join with $bin/cli/tessera-cli --help" >&2
  exit 1
fi
# Not from the repository: a relative name is the caller's.
exec "$root/build-run/src/app/tessera" "$@"
