#!/usr/bin/env bash
# The one test command: installs dependencies, builds from scratch into build/ and runs
# every test (unit and end-to-end). End-to-end tests need root for network namespaces.
#   scripts/test.sh                 all tests
#   scripts/test.sh -L unit         only unit tests (any ctest arguments pass through)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
rm -rf "$BUILD_DIR"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j"$(nproc)"
cd "$BUILD_DIR"
ctest --output-on-failure --timeout 600 -j"${CTEST_JOBS:-2}" "$@"
