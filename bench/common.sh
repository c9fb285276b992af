# shellcheck shell=bash disable=SC2034  # the variables are read by the scripts that source this
# Sourced by the bench scripts, with $root set to the source tree: their
# settings (see bench/README.md), how a command is measured and the fastest
# of several runs.
build="${SPATIALMUX_BENCH_BUILD_DIR:-$root/build-bench}"
data="${SPATIALMUX_BENCH_DATA:-$build/bench-data}"
small_seconds="${BENCH_SMALL_SECONDS:-8}"
large_seconds="${BENCH_LARGE_SECONDS:-80}"
video_bytes="${BENCH_VIDEO_BYTES:-416667}"
repeats="${BENCH_REPEATS:-3}"

# Runs a command under /usr/bin/time; prints "wall_seconds cpu_seconds peak_kib"
# (cpu = user + system: on a machine shared with other work the wall clock
# also counts time spent waiting for a core).
measure() {
    local report="$data/time.txt"
    /usr/bin/time -f '%e %U %S %M' -o "$report" "$@" >/dev/null 2>"$data/stderr.txt" || {
        echo "failed: $*" >&2
        tail -n 20 "$data/stderr.txt" >&2
        exit 1
    }
    tail -n 1 "$report" | awk '{ printf "%.3f %.3f %d\n", $1, $2 + $3, $4 }'
}

# Fastest of $repeats runs; the output is removed and written back to disk
# before each run so that no run pays for another's writing.
best_of() {
    local output="$1"
    shift
    local best="" result
    for _ in $(seq "$repeats"); do
        rm -f "$output"
        sync
        result="$(measure "$@")"
        if [ -z "$best" ] || awk -v a="${result%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then
            best="$result"
        fi
    done
    rm -f "$output"
    sync
    echo "$best"
}
