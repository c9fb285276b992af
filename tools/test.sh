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
# Each stage's time goes to standard output and, when CI asks for them, to
# the file $SPATIALMUX_STAGE_TIMES.
stage_start=$SECONDS
stage_done() {
  local line="   $1: $((SECONDS - stage_start)) s"
  echo "$line"
  if [ -n "${SPATIALMUX_STAGE_TIMES:-}" ]; then echo "$line" >> "$SPATIALMUX_STAGE_TIMES"; fi
  stage_start=$SECONDS
}

bash "$root/tools/setup.sh" --tests
stage_done "set-up"
# setup.sh installed VLC: the tests that play the outputs in it must run.
export SPATIALMUX_REQUIRE_VLC=1
# Every option that tools/run.sh's lean build sets differently is given here,
# so a folder configured otherwise is set right again; the windowed programs
# are required (the configure step fails without Qt rather than skip them),
# and so are the programs that tests run.
bash "$root/tools/build.sh" -DSPATIALMUX_WERROR=ON -DSPATIALMUX_BUILD_TESTS=ON -DSPATIALMUX_WITH_QT=ON \
     -DSPATIALMUX_REQUIRE_TEST_TOOLS=ON
stage_done "build"
(cd "${SPATIALMUX_BUILD_DIR:-$root/build}" && ctest --output-on-failure -j "$(nproc)")
stage_done "test suite"
[ "${SPATIALMUX_TEST_QUICK:-}" = 1 ] && exit 0

echo "== the test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
asan="${SPATIALMUX_ASAN_BUILD_DIR:-$root/build-asan}"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$root" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPATIALMUX_WERROR=ON \
      -DSPATIALMUX_BUILD_TESTS=ON -DSPATIALMUX_SANITIZE=address,undefined -DSPATIALMUX_WITH_QT=OFF \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
      "${launcher[@]}" >/dev/null
cmake --build "$asan"
stage_done "sanitizer build"
(cd "$asan" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$(nproc)")
stage_done "sanitizer test suite"

echo "== fuzzing"
bash "$root/fuzz/run_fuzzers.sh"
stage_done "fuzzing"
