#!/usr/bin/env bash
# Times the headphone render (spatialmux --binaural) of a minute of audio
# against the length of the audio, and against the ffmpeg command line
# running the same filter chain once, on the same movie in the same run. See
# bench/README.md.
#
#   bench/run_binaural_bench.sh
#
# Environment:
#   SPATIALMUX_BENCH_BUILD_DIR  build folder (default build-bench)
#   SPATIALMUX_BENCH_DATA       folder for the movies (default: <build>/bench-data)
#   BENCH_AUDIO_SECONDS         length of the audio (default 60)
#   BENCH_REPEATS               runs of each command; the fastest counts (default 3)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=bench/common.sh
source "$root/bench/common.sh"
seconds="${BENCH_AUDIO_SECONDS:-60}"

SPATIALMUX_SETUP_EXTRA=hardening bash "$root/tools/setup.sh" --tests
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPATIALMUX_BENCH=ON >/dev/null
cmake --build "$build" --target spatialmux make_camera_movie -j 2 >/dev/null
mkdir -p "$data"

# A camera movie with noise from the left for the first half and from
# behind on the right, above, for the second; its conversion (ACN order,
# what the ffmpeg command line can read as ambisonics).
camera="$data/binaural_${seconds}s.mp4"
converted="$data/binaural_${seconds}s.mov"
if [ ! -f "$camera" ]; then
    half=$((seconds / 2))
    "$build/make_camera_movie" --size 640x320 --seconds "$seconds" \
        --source "90:0:0:$half:0" --source "-135:30:$half:$seconds:0" "$camera" >/dev/null
fi
[ -f "$converted" ] || "$build/spatialmux" "$camera" "$converted" >/dev/null
cat "$camera" "$converted" >/dev/null  # every command starts from cached inputs

# The same chain as spatialmux builds it, facing the front (every gain of
# the max-rE cube decoder is 1/8), run once.
pan="pan=octagonal"
signs=("+ + +" "+ - +" "- + +" "- - +" "+ + -" "+ - -" "- + -" "- - -")  # x y z of each corner
for i in "${!signs[@]}"; do
    read -r x y z <<<"${signs[$i]}"
    pan+="|c$i=0.125*c0${y}0.125*c1${z}0.125*c2${x}0.125*c3"
done
speakers="0 45 35.26|1 315 35.26|2 135 35.26|3 225 35.26|4 45 -35.26|5 315 -35.26|6 135 -35.26|7 225 -35.26"
chain="aformat=sample_fmts=fltp,$pan,sofalizer=sofa=/usr/share/libmysofa/default.sofa:type=freq:gain=0:normalize=1:speakers=$speakers,aresample=48000"

echo "== $seconds s of four-channel 48 kHz audio; fastest of $repeats runs; wall and cpu (user + system) seconds, peak MB"
rows=(
    "spatialmux --binaural camera .wav:$data/out.wav:$build/spatialmux --binaural $camera $data/out.wav"
    "spatialmux --binaural converted .wav:$data/out.wav:$build/spatialmux --binaural $converted $data/out.wav"
    "spatialmux --binaural camera .m4a:$data/out.m4a:$build/spatialmux --binaural $camera $data/out.m4a"
    "spatialmux --binaural camera .mp4:$data/out.mp4:$build/spatialmux --binaural $camera $data/out.mp4"
)
baseline="$(best_of "$data/ffmpeg.wav" ffmpeg -nostdin -v error -y -i "$converted" -map 0:a -af "$chain" \
            -c:a pcm_s16le "$data/ffmpeg.wav")"
printf '%-38s %6s %6s %7s  %s\n' command wall cpu MB "x real time (wall; cpu), / ffmpeg (wall; cpu)"
report() {
    local name="$1" w c k
    read -r w c k <<<"$2"
    read -r bw bc _ <<<"$baseline"
    awk -v n="$name" -v w="$w" -v c="$c" -v k="$k" -v s="$seconds" -v bw="$bw" -v bc="$bc" '
        function r(a, b) { return b > 0 ? a / b : 0 }
        BEGIN { printf "%-38s %6.2f %6.2f %7.1f  %5.0f; %5.0f   %.2f; %.2f\n", n, w, c, k / 1024,
                r(s, w), r(s, c), r(w, bw), r(c, bc) }'
}
report "ffmpeg -af (one pass, the baseline)" "$baseline"
for row in "${rows[@]}"; do
    name="${row%%:*}" rest="${row#*:}"
    output="${rest%%:*}" command="${rest#*:}"
    # shellcheck disable=SC2086  # the command's words
    report "$name" "$(best_of "$output" $command)"
done
echo "spatialmux renders twice (the peak, then the written render); the ffmpeg line once."
