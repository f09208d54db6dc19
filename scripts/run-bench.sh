#!/bin/sh
# Builds and runs the benchmark suite and writes bench/RESULTS.md.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDSP_BUILD_BENCH=ON -DDSP_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)"
build-bench/bench/dsp_bench --benchmark_repetitions="${BENCH_REPETITIONS:-5}" \
  --benchmark_report_aggregates_only=true --benchmark_format=json --benchmark_out=build-bench/results.json \
  --benchmark_out_format=json >/dev/null
python3 bench/make_results.py build-bench/results.json bench/RESULTS.md
cat bench/RESULTS.md
