#!/usr/bin/env bash
# Times a whole conversion against its floor (cp of the same file) and
# against the ffmpeg command line doing the same job by hand, on camera
# movies of realistic bit rate, and reports each run's peak memory. Then
# times the reading path alone (bench_read_path) and the verification of the
# finished output (bench_verify_output), and the MP4 outputs whose audio is
# encoded (AAC, Opus). See bench/README.md.
#
#   bench/run_bench.sh
#
# Environment:
#   SPATIALMUX_BENCH_BUILD_DIR  build folder (default build-bench)
#   SPATIALMUX_BENCH_DATA       folder for the movies (default: <build>/bench-data);
#                               needs about 4 x the large movie's size free
#   BENCH_SMALL_SECONDS         length of the small movie (default 8: about 100 MB)
#   BENCH_LARGE_SECONDS         length of the large movie (default 80: about 1 GB;
#                               320 gives about 4 GB)
#   BENCH_VIDEO_BYTES           bytes per video frame (default 416667: 100 Mbit/s at 30 fps)
#   BENCH_REPEATS               runs of each command; the fastest counts (default 3)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=bench/common.sh
source "$root/bench/common.sh"

SPATIALMUX_SETUP_EXTRA=hardening bash "$root/tools/setup.sh" --tests
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPATIALMUX_BENCH=ON >/dev/null
cmake --build "$build" --target spatialmux make_bench_movie bench_read_path bench_verify_output -j 2 >/dev/null
mkdir -p "$data"

pan='[0:a]pan=4.0|c0=1.4125376*c0|c1=c2|c2=c3|c3=c1[a]'
declare -A rows remux_rows
for label in small large; do
    seconds="$small_seconds"
    [ "$label" = large ] && seconds="$large_seconds"
    input="$data/camera_${seconds}s.mp4"
    if [ ! -f "$input" ]; then
        "$build/bench/make_bench_movie" "$input" "$seconds" "$video_bytes" 2>"$data/make.log" || { cat "$data/make.log" >&2; exit 1; }
    fi
    size="$(stat -c %s "$input")"
    cat "$input" >/dev/null  # every command starts from a cached input
    echo "== $label input: $input ($((size / 1000000)) MB, $seconds s)"
    cp_result="$(best_of "$data/copy.mp4" cp "$input" "$data/copy.mp4")"
    dd_result="$(best_of "$data/dd.mp4" dd if="$input" of="$data/dd.mp4" bs=1M status=none)"
    sm_result="$(best_of "$data/out.mov" "$build/spatialmux" "$input" "$data/out.mov")"
    rm_result="$(best_of "$data/remux.mov" "$build/spatialmux" --remux "$input" "$data/remux.mov")"
    remux_rows[$label]="$rm_result"
    ff_result="$(best_of "$data/ffmpeg.mov" ffmpeg -nostdin -v error -y -i "$input" -filter_complex "$pan" \
                 -map 0:v:0 -map '[a]' -c:v copy -c:a pcm_s16le "$data/ffmpeg.mov")"
    rows[$label]="$size $cp_result $dd_result $sm_result $ff_result"
done

echo
echo "Fastest of $repeats runs; wall and cpu (user + system) seconds, peak resident memory."
printf '%-6s %6s | %-20s | %-20s | %-22s | %-22s | %s\n' input MB "cp wall/cpu/MB" "dd wall/cpu/MB" \
       "spatialmux wall/cpu/MB" "ffmpeg wall/cpu/MB" "spatialmux / cp, / ffmpeg (wall; cpu)"
for label in small large; do
    read -r size cw cc ck dw dc dk sw sc sk fw fc fk <<<"${rows[$label]}"
    awk -v l="$label" -v size="$size" -v cw="$cw" -v cc="$cc" -v ck="$ck" -v dw="$dw" -v dc="$dc" -v dk="$dk" \
        -v sw="$sw" -v sc="$sc" -v sk="$sk" -v fw="$fw" -v fc="$fc" -v fk="$fk" '
        function r(a, b) { return b > 0 ? a / b : 0 }
        BEGIN { printf "%-6s %6.0f | %5.2f %5.2f %6.1f    | %5.2f %5.2f %6.1f    | %5.2f %5.2f %6.1f      | %5.2f %5.2f %6.1f      | %.2f, %.2f; %.2f, %.2f\n",
                l, size / 1e6, cw, cc, ck / 1024, dw, dc, dk / 1024, sw, sc, sk / 1024, fw, fc, fk / 1024,
                r(sw, cw), r(sw, fw), r(sc, cc), r(sc, fc) }'
done
echo
echo "spatialmux --remux (the FFmpeg remux engine), wall/cpu/MB, and the edit engine's ratio to it:"
for label in small large; do
    read -r _ _ _ _ _ _ _ sw sc _ _ _ _ <<<"${rows[$label]}"
    read -r rw rc rk <<<"${remux_rows[$label]}"
    awk -v l="$label" -v sw="$sw" -v sc="$sc" -v rw="$rw" -v rc="$rc" -v rk="$rk" '
        BEGIN { printf "%-6s %5.2f %5.2f %6.1f    edit / remux %.2f wall, %.2f cpu\n", l, rw, rc, rk / 1024,
                (rw > 0 ? sw / rw : 0), (rc > 0 ? sc / rc : 0) }'
done
read -r _ _ _ _ _ _ _ _ _ small_peak _ _ _ <<<"${rows[small]}"
read -r _ _ _ _ _ _ _ _ _ large_peak _ _ _ <<<"${rows[large]}"
awk -v a="$small_peak" -v b="$large_peak" 'BEGIN { printf "spatialmux peak memory: %.1f MB small, %.1f MB large (%+.1f MB)\n", a / 1024, b / 1024, (b - a) / 1024 }'
echo "targets: spatialmux (edit) / cp at most 1.1, peak under 40 MB and flat"

# The same commands on a reflink XFS volume in a loop file (root and
# mkfs.xfs needed; skipped otherwise): the edit shares the video's blocks.
large_input="$data/camera_${large_seconds}s.mp4"
if [ "$(id -u)" = 0 ] && command -v mkfs.xfs >/dev/null; then
    xfs_image="$data/xfs.img" xfs_mount="$data/xfs"
    mkdir -p "$xfs_mount"
    truncate -s "$(( $(stat -c %s "$large_input") * 6 ))" "$xfs_image"
    if mkfs.xfs -q -f -m reflink=1 "$xfs_image" && mount -o loop "$xfs_image" "$xfs_mount"; then
        trap 'umount "$xfs_mount"; rm -f "$xfs_image"' EXIT
        cp "$large_input" "$xfs_mount/in.mp4"
        sync
        cat "$xfs_mount/in.mp4" >/dev/null
        x_cp="$(best_of "$xfs_mount/copy.mp4" cp --reflink=never "$xfs_mount/in.mp4" "$xfs_mount/copy.mp4")"
        x_ref="$(best_of "$xfs_mount/ref.mp4" cp --reflink=always "$xfs_mount/in.mp4" "$xfs_mount/ref.mp4")"
        x_sm="$(best_of "$xfs_mount/out.mov" "$build/spatialmux" "$xfs_mount/in.mp4" "$xfs_mount/out.mov")"
        x_rm="$(best_of "$xfs_mount/remux.mov" "$build/spatialmux" --remux "$xfs_mount/in.mp4" "$xfs_mount/remux.mov")"
        x_ff="$(best_of "$xfs_mount/ffmpeg.mov" ffmpeg -nostdin -v error -y -i "$xfs_mount/in.mp4" \
                -filter_complex "$pan" -map 0:v:0 -map '[a]' -c:v copy -c:a pcm_s16le "$xfs_mount/ffmpeg.mov")"
        # XFS frees a removed file's blocks in the background: let the
        # outputs of the runs above go before counting.
        sync; sleep 2; sync
        free_before="$(df -B1 --output=avail "$xfs_mount" | tail -n 1)"
        "$build/spatialmux" "$xfs_mount/in.mp4" "$xfs_mount/out.mov" >/dev/null 2>&1
        sync; sleep 2; sync
        free_after="$(df -B1 --output=avail "$xfs_mount" | tail -n 1)"
        rm -f "$xfs_mount/out.mov"
        echo
        echo "== reflink XFS (loop file), large input; wall/cpu/MB"
        for row in "cp --reflink=never:$x_cp" "cp --reflink=always:$x_ref" "spatialmux (edit):$x_sm" \
                   "spatialmux --remux:$x_rm" "ffmpeg:$x_ff"; do
            read -r w c k <<<"${row#*:}"
            awk -v n="${row%%:*}" -v w="$w" -v c="$c" -v k="$k" -v b="${x_cp%% *}" \
                'BEGIN { printf "%-22s %6.2f %6.2f %7.1f   / cp --reflink=never %.3f\n", n, w, c, k / 1024, (b > 0 ? w / b : 0) }'
        done
        echo "space used by one edited output: $(( (free_before - free_after) / 1024 )) KiB" \
             "(audio $(( large_seconds * 48000 * 8 / 1024 )) KiB)"
        echo "targets: edit at most 0.10 x cp --reflink=never; space at most the audio plus the moov"
    else
        echo "(no reflink XFS volume could be mounted here: that part is skipped)"
    fi
fi

echo
echo "== MP4 output: the audio encoded (AAC-LC and Opus, 512 kb/s), fastest of $repeats runs"
printf '%-6s %6s | %-22s | %-22s | %-22s | %s\n' input MB "spatialmux aac w/c/MB" \
       "spatialmux opus w/c/MB" "ffmpeg aac w/c/MB" "spatialmux aac / ffmpeg (wall; cpu)"
for label in small large; do
    seconds="$small_seconds"
    [ "$label" = large ] && seconds="$large_seconds"
    input="$data/camera_${seconds}s.mp4"
    size="$(stat -c %s "$input")"
    cat "$input" >/dev/null
    read -r aw ac ak <<<"$(best_of "$data/out.mp4" "$build/spatialmux" "$input" "$data/out.mp4")"
    read -r ow oc ok <<<"$(best_of "$data/opus.mp4" "$build/spatialmux" --audio opus "$input" "$data/opus.mp4")"
    read -r fw fc fk <<<"$(best_of "$data/ffmpeg.mp4" ffmpeg -nostdin -v error -y -i "$input" \
                           -filter_complex "$pan" -map 0:v:0 -map '[a]' -c:v copy -c:a aac -b:a 512k \
                           "$data/ffmpeg.mp4")"
    awk -v l="$label" -v size="$size" -v aw="$aw" -v ac="$ac" -v ak="$ak" -v ow="$ow" -v oc="$oc" \
        -v ok="$ok" -v fw="$fw" -v fc="$fc" -v fk="$fk" '
        function r(a, b) { return b > 0 ? a / b : 0 }
        BEGIN { printf "%-6s %6.0f | %5.2f %5.2f %6.1f      | %5.2f %5.2f %6.1f      | %5.2f %5.2f %6.1f      | %.2f; %.2f\n",
                l, size / 1e6, aw, ac, ak / 1024, ow, oc, ok / 1024, fw, fc, fk / 1024, r(aw, fw), r(ac, fc) }'
done

echo
echo "== reading path alone (large input)"
"$build/bench/bench_read_path" "$data/camera_${large_seconds}s.mp4" "$repeats"

echo
echo "== output verification alone (large input; compare with the conversion's wall time above)"
"$build/spatialmux" "$large_input" "$data/out.mov" >/dev/null 2>&1
"$build/bench/bench_verify_output" "$large_input" "$data/out.mov" "$repeats" edited
rm -f "$data/out.mov"
