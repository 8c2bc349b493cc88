#!/usr/bin/env bash
# Builds the library and runs `vtools demo` (the main job) on its built-in data.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVLIB_BUILD_TESTS=OFF -DVLIB_BUILD_BENCH=OFF >/dev/null
cmake --build build/release -j2 --target vtools
./build/release/tools/vtools/vtools demo
