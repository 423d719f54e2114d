#!/usr/bin/env bash
# Installs what is missing, builds Tessera and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_BUILD_UI=ON >/dev/null
cmake --build build --target tessera -j"$(nproc)"
exec build/src/app/tessera "$@"
