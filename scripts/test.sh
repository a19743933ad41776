#!/bin/bash
# Installs what is needed, builds, and runs every test with CTest.
# BUILD_DIR (default build) is reused, so authored test discs are kept.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
bash scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j2
ctest --test-dir "$BUILD_DIR" -j2 --output-on-failure --timeout 1800
