#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a bounded time; fails when a
# target finds a crash, a leak or a sanitizer report.
set -eu
cd "$(dirname "$0")/.."
targets=$(ls fuzz/*.cpp 2>/dev/null || true)
[ -n "$targets" ] || { echo "fuzz: no targets"; exit 0; }
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DDSP_BUILD_FUZZ=ON -DDSP_BUILD_TESTS=OFF -DDSP_BUILD_TOOLS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)"
status=0
for src in $targets; do
  name=$(basename "$src" .cpp)
  corpus=build-fuzz/corpus-$name
  mkdir -p "$corpus"
  seeds=fuzz/seeds/$name
  log=build-fuzz/$name.log
  echo "fuzz: running $name for ${FUZZ_SECONDS:-60}s"
  if build-fuzz/fuzz/$name -max_total_time="${FUZZ_SECONDS:-60}" -print_final_stats=1 \
       -artifact_prefix=build-fuzz/"$name"- "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) >"$log" 2>&1; then
    tail -n 5 "$log"
  else
    echo "fuzz: $name FAILED (full log in $log)" >&2
    grep -A 30 -m 1 "ERROR\|deadly signal\|runtime error" "$log" >&2 || tail -n 40 "$log" >&2
    status=1
  fi
done
exit $status
