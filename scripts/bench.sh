#!/usr/bin/env bash
# Builds the benchmarks without sanitizers and runs them all, each inside a
# throw-away headless desktop session (X, D-Bus, accessibility bus, PulseAudio),
# as the desktop benchmarks need. The tests are built too: the program and
# delivery benchmarks type into the tests' window.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELVOX_TESTS=ON -DVELVOX_BENCHMARKS=ON
cmake --build "$build" -j 2
for program in "$build"/bench/bench_*; do
  echo "== $(basename "$program")"
  tests/integration/headless-session.sh "$program" "$@"
done
