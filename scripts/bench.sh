#!/usr/bin/env bash
# Builds the benchmarks without sanitizers and runs them all.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELVOX_TESTS=OFF
cmake --build "$build" -j 2
for program in "$build"/bench/bench_*; do
  echo "== $(basename "$program")"
  "$program" "$@"
done
