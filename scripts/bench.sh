#!/usr/bin/env bash
# Builds the benchmarks (Release), runs every one of them with repetitions and
# writes the published numbers: docs/PERFORMANCE.md and the chart beside it
# (docs/performance.png).  Each benchmark runs its peers in the same binary
# and writes its ratio rows (median and range of the rounds) as JSON lines;
# scripts/bench_report.py turns them into the tables.
#
#   scripts/bench.sh [REPETITIONS] [-- BENCHMARK...]
#
# REPETITIONS defaults to each benchmark's own (at least 5; the crash
# benchmark takes 20).  Naming
# benchmarks (e.g. -- gdi_bench text_bench) runs only those; the report then
# keeps the other areas' rows from the last full run.  Run it on a quiet
# machine: the report records the load average before and after each binary.
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=()
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
  repetitions=(--benchmark_repetitions="$1")
  shift
fi
[ "${1:-}" = "--" ] && shift
only=("$@")

bash scripts/install-deps.sh --bench
build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVLIB_BUILD_BENCH=ON -DVLIB_BUILD_TESTS=OFF -DVLIB_BUILD_TOOLS=OFF \
  >/dev/null
cmake --build "$build" -j"$(nproc)"

results=$build/results
mkdir -p "$results"
benches=()
if [ ${#only[@]} -gt 0 ]; then
  benches=("${only[@]}")
else
  for b in "$build"/bench/*_bench; do benches+=("$(basename "$b")"); done
  rm -f "$results"/*.jsonl "$results"/*.load
fi

for name in "${benches[@]}"; do
  binary=$build/bench/$name
  echo "=== $name"
  cut -d' ' -f1-3 /proc/loadavg > "$results/$name.load"
  rm -f "$results/$name.jsonl.part"
  VLIB_BENCH_JSON="$results/$name.jsonl.part" "$binary" "${repetitions[@]}"
  mv "$results/$name.jsonl.part" "$results/$name.jsonl" 2>/dev/null || : > "$results/$name.jsonl"
  cut -d' ' -f1-3 /proc/loadavg >> "$results/$name.load"
done

/usr/bin/python3 scripts/bench_report.py "$results" docs/PERFORMANCE.md docs/performance.png
echo "written: docs/PERFORMANCE.md, docs/performance.png"
