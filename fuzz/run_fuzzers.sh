#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time on
# its seed corpus. Exits non-zero when a fuzzer finds a crash, a leak, a
# time-out or an out-of-memory input; the input that did it is saved in
# fuzz/regressions/<target>/, where the test suite replays it from then on.
#
#   fuzz/run_fuzzers.sh [TARGET...]      (default: every target)
#
# Environment:
#   SPATIALMUX_FUZZ_SECONDS    seconds per target (default 60)
#   SPATIALMUX_FUZZ_BUILD_DIR  build folder (default build-fuzz)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${SPATIALMUX_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${SPATIALMUX_FUZZ_SECONDS:-60}"
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(movie_reader transplant maker_note spatial_metadata input_checks
                                     edit_plan check_report)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DSPATIALMUX_FUZZ=ON -DSPATIALMUX_BUILD_TESTS=OFF -DSPATIALMUX_WITH_QT=OFF -DSPATIALMUX_WERROR=ON >/dev/null
cmake --build "$build" --target fuzzers -j 2

failed=()
summary=()
for target in "${targets[@]}"; do
    binary="$build/fuzz/${target}_fuzzer"
    seeds="$root/fuzz/corpus/$target"
    regressions="$root/fuzz/regressions/$target"
    # New inputs go to a working corpus in the build folder; the seed corpus
    # in the tree stays small.
    work="$build/fuzz-work/$target"
    log="$build/fuzz-work/$target.log"
    mkdir -p "$work" "$regressions"
    echo "== fuzzing $target for ${seconds}s"
    status=0
    (cd "$build/fuzz-work" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$binary" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$regressions/" "$work" "$seeds" >"$log" 2>&1) || status=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    summary+=("$target: ${runs:-?} executions in ${seconds}s, exit $status")
    if [ "$status" -ne 0 ]; then
        failed+=("$target")
        echo "!! $target failed (exit $status); the end of its log:"
        tail -n 40 "$log"
    fi
done

echo "== fuzzing summary"
printf '   %s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
    echo "Fuzzing found problems in: ${failed[*]} (inputs saved under fuzz/regressions/)" >&2
    exit 1
fi
