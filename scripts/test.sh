#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds with the sanitizers
# and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# Every C++ source follows .clang-format; a file that does not fails the run here.
bash scripts/check-format.sh
# No include runs back up the layers, and no fake links a real backend.
python3 scripts/check-layers.py

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELVOX_SANITIZE=ON -DVELVOX_BENCHMARKS=OFF
cmake --build "$build" -j 2
# Leak checking stays on; the GLib type system keeps its one-time allocations
# for the life of the process, which is not a leak of ours.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
# The programs whose code runs threads, once more under ThreadSanitizer: the
# log's writer thread (every program logs; tests_base tests it), the HTTP
# client's network thread against threaded loopback servers (tests_services),
# the GLib main queue fed from other threads (tests_platform), and the
# notices and network answers that hop from another thread to the main queue
# (tests_capture, tests_app), and velvox-service's workers, its connection
# watcher and its socket hooks (tests_service). AddressSanitizer and ThreadSanitizer cannot
# share a process, hence a build folder of its own; only these programs are
# built there, without benchmarks, to keep the run short. The integration
# programs need the desktop session and stay with the run above.
#
# The tests above spend most of their time waiting on sessions, windows and
# servers, so this build runs beside them, at the idle priority: it takes only
# the processor time they leave, and they run as fast as on their own.
tsan=build/tsan
tsan_programs=(tests_base tests_platform tests_services tests_capture tests_app tests_service)
cmake -S . -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELVOX_TSAN=ON -DVELVOX_BENCHMARKS=OFF >/dev/null
idle=(chrt --idle 0)
"${idle[@]}" true 2>/dev/null || idle=(nice -n 19)
# A group of its own, so that a run that ends early stops the compilers too.
setsid "${idle[@]}" cmake --build "$tsan" -j 2 --target "${tsan_programs[@]}" >"$tsan/build.log" 2>&1 &
tsan_build=$!
# The Debian packages' build, at the idle priority too: an optimised build
# with Debian's hardening flags and debug symbols, in a folder of its own and
# without tests or benchmarks, so that it builds only what the packages hold.
# It starts once the ThreadSanitizer build is done, which the run waits on
# first, and takes the processor time the tests after ctest leave;
# scripts/check-packages.sh makes and checks the packages at the end.
package=build/package
cmake -S . -B "$package" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELVOX_PACKAGE=ON -DVELVOX_TESTS=OFF \
  -DVELVOX_BENCHMARKS=OFF >/dev/null
setsid "${idle[@]}" sh -c 'while kill -0 "$1" 2>/dev/null; do sleep 2; done; exec cmake --build "$2" -j 2' \
  sh "$tsan_build" "$package" >"$package/build.log" 2>&1 &
package_build=$!
trap 'kill -- -"$tsan_build" -"$package_build" 2>/dev/null || true' EXIT

ctest --test-dir "$build" --output-on-failure -j 2 --timeout 600

if ! wait "$tsan_build"; then
  tail -n 60 "$tsan/build.log"
  echo "the ThreadSanitizer build failed (all of it in $tsan/build.log)" >&2
  exit 1
fi
# A race report makes the program exit non-zero (66), which ends the run.
# GStreamer hands buffers and messages between its own threads under GLib's
# locks, futexes that ThreadSanitizer cannot see: the decoder's test would
# report every such hand-off as a race. It runs in the build above.
declare -A tsan_skip=([tests_platform]=GstAudioDecoderTest.*)
for program in "${tsan_programs[@]}"; do
  VELVOX_TEST_DATA=$PWD/tests/data TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp second_deadlock_stack=1" \
    "$tsan/tests/$program" --gtest_brief=1 --gtest_filter="-${tsan_skip[$program]:-}"
done

# velvox-service's request parsing under libFuzzer, for half a minute.
bash scripts/fuzz.sh 30

if ! wait "$package_build"; then
  tail -n 60 "$package/build.log"
  echo "the packages' build failed (all of it in $package/build.log)" >&2
  exit 1
fi
# Two packages, velvox and velvox-service, each clean by lintian and holding
# only what it uses; the AppStream metadata and the systemd unit validated.
bash scripts/check-packages.sh "$package"

# The Home pages in headless Chromium.
tests/pages/run.sh
