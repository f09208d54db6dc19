#!/bin/sh
# Builds and runs the benchmark suite (ours and the peer libraries in one run) and writes
# bench/RESULTS.md from the medians of the repetitions.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh scripts/packages.d/build.txt scripts/packages.d/bench.txt
python=/usr/bin/python3
[ -x "$python" ] || python=python3
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDSP_BUILD_BENCH=ON -DDSP_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target dsp_bench -j "$(nproc)"
build-bench/bench/dsp_bench --benchmark_repetitions="${BENCH_REPETITIONS:-5}" \
  --benchmark_report_aggregates_only=true --benchmark_out=build-bench/results.json \
  --benchmark_out_format=json ${BENCH_FILTER:+--benchmark_filter="$BENCH_FILTER"} >/dev/null
"$python" bench/make_results.py build-bench/results.json bench/RESULTS.md build-bench/bench/build-info.json
cat bench/RESULTS.md
