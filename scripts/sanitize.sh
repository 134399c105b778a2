#!/usr/bin/env bash
# Builds the unit tests under a sanitizer and runs them.
#   scripts/sanitize.sh address     ASan + UBSan
#   scripts/sanitize.sh thread      TSan, the unit tests that exercise threads
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-address}
BUILD_DIR=build-$kind
rm -rf "$BUILD_DIR"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE="$kind" \
  -DQUILLON_BUILD_BENCH=OFF -DQUILLON_BUILD_E2E=OFF
cd "$BUILD_DIR"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
if [ "$kind" = thread ]; then
  cmake --build . -j"$(nproc)" --target thread_tests
  while read -r program; do
    [ -n "$program" ] || continue
    echo "tsan: $program"
    timeout 600 "$program" --gtest_brief=1
  done <thread_tests.txt
else
  cmake --build . -j"$(nproc)"
  ctest --output-on-failure --timeout 600 -j2 -L unit
fi
