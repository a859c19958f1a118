#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/bootstrap.sh
build=${BRENVIK_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRENVIK_WERROR="${BRENVIK_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
