#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds Velvox, installs it
# for the current user (~/.local: the binary, its pages, the desktop entry that
# lets the browser's velvox:// sign-in callback reach it, the icon) and starts
# it in the current desktop session. Arguments are passed on to velvox.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=build/release
prefix="$HOME/.local"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELVOX_TESTS=OFF -DVELVOX_BENCHMARKS=OFF \
  -DCMAKE_INSTALL_PREFIX="$prefix"
cmake --build "$build" -j 2
cmake --install "$build" >/dev/null
if [ -z "${DISPLAY:-}" ]; then
  echo "Velvox needs a desktop session (an X11 display); DISPLAY is not set." >&2
  exit 1
fi
exec "$prefix/bin/velvox" "$@"
