#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds with the sanitizers
# and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# Every C++ source follows .clang-format; a file that does not fails the run here.
bash scripts/check-format.sh

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELVOX_SANITIZE=ON -DVELVOX_BENCHMARKS=OFF
cmake --build "$build" -j 2
# Leak checking stays on; the GLib type system keeps its one-time allocations
# for the life of the process, which is not a leak of ours.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
ctest --test-dir "$build" --output-on-failure -j 2 --timeout 600

# The Home pages in headless Chromium.
tests/pages/run.sh
