#!/usr/bin/env bash
# Sets up, builds, and converts a camera movie.
#   tools/run.sh                 makes the bundled sample movie and converts it
#   tools/run.sh INPUT OUTPUT    converts INPUT into OUTPUT
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# A build folder of its own: the lean settings below never reach the test
# build in build/ (tools/test.sh), and the test build's never reach this one.
build="${SPATIALMUX_RUN_BUILD_DIR:-$root/build-run}"
bash "$root/tools/setup.sh"
# The command line and the fixture builder only, optimized.
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# -O2 rather than -O3: a shorter build; a conversion waits on the disk.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DSPATIALMUX_BUILD_TESTS=OFF \
      -DSPATIALMUX_WITH_QT=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target spatialmux make_camera_movie >/dev/null

if [ $# -eq 2 ]; then
  exec "$build/spatialmux" "$1" "$2"
elif [ $# -ne 0 ]; then
  echo "usage: tools/run.sh [INPUT OUTPUT]" >&2
  exit 2
fi

sample_dir="$build/sample"
mkdir -p "$sample_dir"
input="$sample_dir/sample_camera_movie.mp4"
output="$sample_dir/sample_converted.mov"
"$build/make_camera_movie" --sample "$input"
rm -f "$output"
status=0
"$build/spatialmux" "$input" "$output" || status=$?
echo
if [ $status -eq 0 ]; then
  echo "Converted the sample camera movie:"
  echo "  input:  $input"
  echo "  output: $output"
  "$build/make_camera_movie" --describe "$output" || true
  # Where its sound comes from, over the picture (sample_converted.soundmap.png).
  "$build/spatialmux" --soundmap "$output" || true
else
  echo "The sample conversion failed (exit status $status)." >&2
fi
exit $status
