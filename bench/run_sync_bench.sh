#!/usr/bin/env bash
# What it costs that "converted" means on the disk: a conversion syncs its
# output before the rename that publishes it and the folder after it. Times
# the conversion against its durable floor, cp followed by a sync of the copy
# (`sync FILE`: an fsync of that file), and against the same conversion with
# its syncs turned into no-ops (eatmydata), on an ext4 and a reflink XFS
# volume in loop files. See bench/README.md.
#
#   bench/run_sync_bench.sh
#
# Environment: the same as bench/run_bench.sh (SPATIALMUX_BENCH_BUILD_DIR,
# SPATIALMUX_BENCH_DATA, BENCH_LARGE_SECONDS, BENCH_VIDEO_BYTES,
# BENCH_REPEATS); the volumes need about 5 x the movie's size in the data
# folder (sparse files: only what is written takes room). Needs root.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=bench/common.sh
source "$root/bench/common.sh"

if [ "$(id -u)" != 0 ]; then
    echo "run_sync_bench.sh mounts its volumes in loop files: run it as root" >&2
    exit 1
fi
SPATIALMUX_SETUP_EXTRA=hardening bash "$root/tools/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPATIALMUX_BENCH=ON >/dev/null
cmake --build "$build" --target spatialmux make_bench_movie -j 2 >/dev/null
mkdir -p "$data"


# The commands of one volume, run in turns ($repeats rounds, each command once
# a round, so that a busy moment of the machine does not fall on one command
# alone); the fastest run of each counts. Before each run its output is
# removed and everything written back to the disk, so that no run pays for
# another's writing. Sets best[NAME] to what measure printed.
declare -A best=()
run_rounds() {
    local name output result
    best=()
    for _ in $(seq "$repeats"); do
        for name in "${names[@]}"; do
            output="${outputs[$name]}"
            rm -f "$output"
            sync
            # shellcheck disable=SC2086
            eval "result=\"\$(measure ${commands[$name]})\""
            if [ -z "${best[$name]:-}" ] ||
               awk -v a="${result%% *}" -v b="${best[$name]%% *}" 'BEGIN { exit !(a < b) }'; then
                best[$name]="$result"
            fi
        done
    done
    rm -f "${outputs[@]}"
    sync
}

input="$data/camera_${large_seconds}s.mp4"
if [ ! -f "$input" ]; then
    "$build/bench/make_bench_movie" "$input" "$large_seconds" "$video_bytes" 2>"$data/make.log" || {
        cat "$data/make.log" >&2
        exit 1
    }
fi
size="$(stat -c %s "$input")"

mounted=()
cleanup() {
    for mount in "${mounted[@]}"; do umount "$mount" || true; done
    rm -f "$data"/sync-*.img
}
trap cleanup EXIT

echo "== durable output: $input ($((size / 1000000)) MB), fastest of $repeats rounds, wall/cpu seconds"
echo "   ratios against the durable floor (cp, then sync of the copy) of the same volume, same run"
for fs in ext4 xfs; do
    image="$data/sync-$fs.img" mount="$data/sync-$fs"
    mkdir -p "$mount"
    rm -f "$image"
    truncate -s "$((size * 5))" "$image"
    if [ "$fs" = xfs ]; then
        mkfs.xfs -q -f -m reflink=1 "$image"
    else
        mkfs.ext4 -q -F "$image"
    fi
    mount -o loop "$image" "$mount"
    mounted+=("$mount")
    cp "$input" "$mount/in.mp4"
    sync
    cat "$mount/in.mp4" >/dev/null  # every command starts from a cached input
    in="$mount/in.mp4"
    declare -A commands=() outputs=()
    names=(cp cp_sync)
    q() { printf '%q ' "$@"; }
    commands[cp]="$(q cp --reflink=never "$in" "$mount/copy.mp4")"
    # shellcheck disable=SC2016  # the inner shell expands its arguments
    commands[cp_sync]="$(q sh -c 'cp --reflink=never "$1" "$2" && sync "$2"' sh "$in" "$mount/copy.mp4")"
    outputs[cp]="$mount/copy.mp4" outputs[cp_sync]="$mount/copy.mp4"
    if [ "$fs" = xfs ]; then
        names+=(clone_sync)
        # shellcheck disable=SC2016
        commands[clone_sync]="$(q sh -c 'cp --reflink=always "$1" "$2" && sync "$2"' sh "$in" "$mount/copy.mp4")"
        outputs[clone_sync]="$mount/copy.mp4"
    fi
    names+=(edit edit_nosync remux remux_nosync)
    commands[edit]="$(q "$build/spatialmux" "$in" "$mount/out.mov")"
    commands[edit_nosync]="$(q eatmydata "$build/spatialmux" "$in" "$mount/out.mov")"
    commands[remux]="$(q "$build/spatialmux" --remux "$in" "$mount/remux.mov")"
    commands[remux_nosync]="$(q eatmydata "$build/spatialmux" --remux "$in" "$mount/remux.mov")"
    outputs[edit]="$mount/out.mov" outputs[edit_nosync]="$mount/out.mov"
    outputs[remux]="$mount/remux.mov" outputs[remux_nosync]="$mount/remux.mov"
    run_rounds
    declare -A row=()
    for name in "${names[@]}"; do row[$name]="${best[$name]}"; done
    base="${row[cp_sync]%% *}"
    echo
    echo "-- $fs (loop file)"
    for name in cp cp_sync clone_sync edit edit_nosync remux remux_nosync; do
        [ -n "${row[$name]:-}" ] || continue
        case "$name" in
            cp) label="cp (no sync)" ;;
            cp_sync) label="cp + sync of the copy" ;;
            clone_sync) label="cp --reflink + sync" ;;
            edit) label="spatialmux (edit)" ;;
            edit_nosync) label="  its syncs off" ;;
            remux) label="spatialmux --remux" ;;
            remux_nosync) label="  its syncs off" ;;
        esac
        read -r w c _ <<<"${row[$name]}"
        awk -v n="$label" -v w="$w" -v c="$c" -v b="$base" \
            'BEGIN { printf "%-24s %6.2f %6.2f   / cp + sync %.2f\n", n, w, c, (b > 0 ? w / b : 0) }'
    done
    for engine in edit remux; do
        read -r w _ <<<"${row[$engine]}"
        read -r n _ <<<"${row[${engine}_nosync]}"
        awk -v e="$engine" -v w="$w" -v n="$n" \
            'BEGIN { printf "cost of the syncs (%s): %+.2f s (%.2f x its time without them)\n", e, w - n, (n > 0 ? w / n : 0) }'
    done
    unset row commands outputs
    rm -f "$mount/in.mp4"
done
