#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds Velvox and starts it
# in the current desktop session. Arguments are passed on to velvox.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELVOX_TESTS=OFF -DVELVOX_BENCHMARKS=OFF
cmake --build "$build" -j 2
exec "$build/velvox" "$@"
