#!/usr/bin/env bash
# Takes the picture of the spatialmux-gui window that the README and the
# AppStream metadata show: under Xvfb, three camera movies made by the
# fixture builder and a text file are opened with the window, converted
# with Enter, and the window is saved once every output exists.
#   bash tools/screenshot.sh [BUILD] [OUT.png]
#     (defaults: build, resources/screenshots/spatialmux-gui.png; the
#     language follows LANGUAGE, e.g. LANGUAGE=ja for the Japanese window)
# With --smoke (the test suite's run), the window is only started with the
# files queued, saved, and stopped with SIGTERM: it must exit with 143 and
# leave nothing behind.
#   bash tools/screenshot.sh --smoke BUILD OUT.png
# Needs xvfb-run, xdotool and ImageMagick's import (tools/setup.sh installs them).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
smoke=0
smoke_flag=()
if [ "${1:-}" = --smoke ]; then smoke=1; smoke_flag=(--smoke); shift; fi
build="$(cd "${1:-$root/build}" && pwd)"
out="${2:-$root/resources/screenshots/spatialmux-gui.png}"
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac

for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (bash tools/setup.sh)" >&2; exit 1; }
done
# A display of its own, with a fixed size and depth.
if [ -z "${SPATIALMUX_SCREENSHOT_DISPLAY:-}" ]; then
  SPATIALMUX_SCREENSHOT_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x800x24" \
    bash "${BASH_SOURCE[0]}" "${smoke_flag[@]}" "$build" "$out"
fi

work="$(mktemp -d)"
gui=""
cleanup() {
  [ -n "$gui" ] && kill "$gui" 2>/dev/null && wait "$gui" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# The window remembers nothing of the user's own settings here.
export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb
mkdir -p "$work/card/DCIM/100CAMERA"
movies="$work/card/DCIM/100CAMERA"
"$build/make_camera_movie" --sample "$movies/R0010042.MP4" >/dev/null
"$build/make_camera_movie" --size 640x320 --seconds 8 --seed 2 "$movies/R0010043.MP4" >/dev/null
"$build/make_camera_movie" --hevc --size 640x320 --seconds 3 --seed 3 "$movies/R0010044.MP4" >/dev/null
echo "Shot on the beach, 3 May" >"$movies/notes.txt"

"$build/spatialmux-gui" "$movies"/R00100*.MP4 "$movies/notes.txt" >"$work/log" 2>&1 &
gui=$!
window="$(xdotool search --sync --onlyvisible --name '^spatialmux$' | head -n 1)"
[ -n "$window" ]
xdotool windowsize "$window" 1000 460
xdotool windowfocus --sync "$window" 2>/dev/null || true
sleep 2  # the checks answer, the rows settle

if [ $smoke = 0 ]; then
  xdotool key --clearmodifiers Return
  for _ in $(seq 1 600); do
    [ -e "$movies/R0010042.mov" ] && [ -e "$movies/R0010043.mov" ] && [ -e "$movies/R0010044.mov" ] && break
    sleep 0.1
  done
  sleep 1  # the last row and the summary are drawn
fi
mkdir -p "$(dirname "$out")"
if [ $smoke = 0 ]; then
  # Smaller for the repository: 256 colours are plenty for a window.
  import -window "$window" -colors 256 "PNG8:$out"
else
  import -window "$window" "$out"
fi
identify "$out"

kill -TERM "$gui"
status=0
wait "$gui" || status=$?
gui=""
if [ $status -ne 143 ]; then
  cat "$work/log"; echo "screenshot: spatialmux-gui ended with $status, not 143" >&2; exit 1
fi
# Nothing hidden is left beside the movies.
leftovers="$(find "$movies" -name '.*')"
if [ -n "$leftovers" ]; then echo "screenshot: left behind: $leftovers" >&2; exit 1; fi
echo "$out"
