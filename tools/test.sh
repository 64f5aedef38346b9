#!/bin/bash
# Builds everything and runs the whole test suite.
# Usage: tools/test.sh [build folder] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
bash tools/deps.sh
cmake -S . -B "$build" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300
