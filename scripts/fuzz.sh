#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
BUILD_DIR=build-fuzz
rm -rf "$BUILD_DIR"
CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLON_BUILD_FUZZ=ON -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_BENCH=OFF
targets=$(cmake --build "$BUILD_DIR" --target help | sed -n 's/^\.\.\. \(fuzz_[a-z0-9_]*\).*/\1/p')
[ -n "$targets" ] || { echo "fuzz: no targets"; exit 0; }
cmake --build "$BUILD_DIR" -j"$(nproc)" --target $targets
for t in $targets; do
  corpus="$BUILD_DIR/corpus/$t"
  mkdir -p "$corpus"
  seeds=fuzz/${t#fuzz_}/seeds
  echo "fuzz: $t for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1 "$BUILD_DIR/fuzz/${t#fuzz_}/$t" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -print_final_stats=1 "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) 2>&1 | tail -15
done
