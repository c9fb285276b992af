#!/usr/bin/env bash
# Sets up a fresh machine, builds with warnings as errors and runs every test;
# then runs the whole suite again under the address and undefined-behaviour
# sanitizers, and runs each fuzz target for a bounded time on its corpus.
#
# Environment:
#   SPATIALMUX_BUILD_DIR       the normal build (default build)
#   SPATIALMUX_ASAN_BUILD_DIR  the sanitizer build (default build-asan)
#   SPATIALMUX_FUZZ_BUILD_DIR  the fuzz build (default build-fuzz)
#   SPATIALMUX_FUZZ_SECONDS    seconds per fuzz target (default 60)
#   SPATIALMUX_TEST_QUICK=1    the normal build and suite only
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/tools/setup.sh"
# setup.sh installed VLC: the tests that play the outputs in it must run.
export SPATIALMUX_REQUIRE_VLC=1
bash "$root/tools/build.sh" -DSPATIALMUX_WERROR=ON -DSPATIALMUX_BUILD_TESTS=ON
(cd "${SPATIALMUX_BUILD_DIR:-$root/build}" && ctest --output-on-failure -j "$(nproc)")
[ "${SPATIALMUX_TEST_QUICK:-}" = 1 ] && exit 0

echo "== the test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
asan="${SPATIALMUX_ASAN_BUILD_DIR:-$root/build-asan}"
cmake -S "$root" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPATIALMUX_WERROR=ON \
      -DSPATIALMUX_BUILD_TESTS=ON -DSPATIALMUX_SANITIZE=address,undefined -DSPATIALMUX_WITH_QT=OFF >/dev/null
cmake --build "$asan"
(cd "$asan" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$(nproc)")

echo "== fuzzing"
bash "$root/fuzz/run_fuzzers.sh"
