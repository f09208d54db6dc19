#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a bounded time.
set -eu
cd "$(dirname "$0")/.."
targets=$(ls fuzz/*.cpp 2>/dev/null || true)
[ -n "$targets" ] || { echo "fuzz: no targets"; exit 0; }
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DDSP_BUILD_FUZZ=ON -DDSP_BUILD_TESTS=OFF -DDSP_BUILD_TOOLS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)"
for src in $targets; do
  name=$(basename "$src" .cpp)
  corpus=build-fuzz/corpus-$name
  mkdir -p "$corpus"
  seeds=fuzz/seeds/$name
  echo "fuzz: running $name for ${FUZZ_SECONDS:-60}s"
  build-fuzz/fuzz/$name -max_total_time="${FUZZ_SECONDS:-60}" -print_final_stats=1 "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) 2>&1 | tail -n 5
done
