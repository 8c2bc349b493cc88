#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60)
# on its seed corpus.  Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
dir=build/fuzz
CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DVLIB_BUILD_FUZZ=ON \
  -DVLIB_BUILD_TESTS=OFF -DVLIB_BUILD_BENCH=OFF -DVLIB_BUILD_TOOLS=OFF \
  -DVLIB_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$dir" -j2
for source in fuzz/*_fuzz.cpp; do
  target=$(basename "$source" .cpp)
  corpus=$(mktemp -d)
  cp fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  echo "=== $target for ${seconds}s"
  # A finding stops the script (and CI) with the fuzzer's report.
  "$dir/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -artifact_prefix="$dir/" "$corpus" 2>&1 | tail -n 4
  rm -rf "$corpus"
done
