#!/usr/bin/env bash
# spatialmux-gui under Xvfb with its default settings (beside each movie,
# QuickTime), as a card's owner uses it: the movies opened with the window
# and converted with Enter. Every movie is converted beside itself, never
# onto itself, and the movies are left as they were.
#   bash tests/gui/movies_beside_themselves.sh mov BUILD OUT.png
#     .mov movies in a plain folder: each one becomes NAME-360.mov.
#   bash tests/gui/movies_beside_themselves.sh card BUILD OUT.png
#     .MP4 movies on a card image, FAT32 or exFAT (loop-mounted: root and loop
#     devices needed; else the test is skipped with 77): converted with the default
#     settings (NAME.mov), then as MP4, where NAME.mp4 is the movie itself on
#     a card that does not tell case apart: NAME-360.mp4.
# Needs xvfb-run, xdotool and ImageMagick's import; for the card mkfs.vfat
# (and the kernel's FAT), or mkfs.exfat and mount.exfat-fuse.
set -euo pipefail
case="$1"
build="$(cd "$2" && pwd)"
out="$3"
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac

for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing (bash tools/setup.sh --tests)"; exit 77; }
done
if [ -z "${SPATIALMUX_BESIDE_DISPLAY:-}" ]; then
  SPATIALMUX_BESIDE_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x800x24" \
    bash "${BASH_SOURCE[0]}" "$@"
fi

work="$(mktemp -d)"
gui=""
mounted=""
loop=""
cleanup() {
  if [ -n "$gui" ]; then kill "$gui" 2>/dev/null || true; wait "$gui" 2>/dev/null || true; fi
  if [ -n "$mounted" ]; then umount "$mounted" 2>/dev/null || fusermount -u "$mounted" 2>/dev/null || true; fi
  if [ -n "$loop" ]; then losetup -d "$loop" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb

fail() { echo "movies_beside_themselves: $*" >&2; [ -f "$work/log" ] && cat "$work/log" >&2; exit 1; }

# Runs the window on the movies given, presses Enter, waits for every
# expected output (paths relative to the folder) and saves the window.
convert_with_window() {
  local folder="$1" picture="$2"; shift 2
  local -a expected=("$@")
  "$build/spatialmux-gui" "$folder" >"$work/log" 2>&1 &
  gui=$!
  local window
  window="$(xdotool search --sync --onlyvisible --name '^spatialmux$' | head -n 1)"
  [ -n "$window" ] || fail "no window"
  xdotool windowsize "$window" 1100 460
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  sleep 2  # the checks answer
  xdotool key --clearmodifiers Return
  local done=0
  for _ in $(seq 1 900); do
    done=1
    for name in "${expected[@]}"; do [ -e "$folder/$name" ] || done=0; done
    # Converted and moved into place: no hidden partial output is left.
    if [ $done = 1 ] && [ -z "$(find "$folder" -name '.*spatialmux*')" ]; then break; fi
    done=0
    sleep 0.2
  done
  [ $done = 1 ] || { ls -la "$folder" >&2; fail "not every output was written: ${expected[*]}"; }
  sleep 1.5  # the last row and the summary are drawn
  import -window "$window" "$picture"
  kill -TERM "$gui"
  local status=0
  wait "$gui" || status=$?
  gui=""
  [ $status -eq 143 ] || fail "spatialmux-gui ended with $status, not 143"
}

checksums() { (cd "$1" && find . -type f ! -name '*-360.*' ! -name 'R001000?.mov' -print0 | sort -z | xargs -0 md5sum); }

case "$case" in
  mov)
    movies="$work/movies"
    mkdir -p "$movies"
    "$build/make_camera_movie" --size 640x320 --seconds 2 --seed 1 "$movies/beach.mov" >/dev/null
    "$build/make_camera_movie" --size 640x320 --seconds 2 --seed 2 "$movies/harbour.mov" >/dev/null
    before="$(checksums "$movies")"
    convert_with_window "$movies" "$out" beach-360.mov harbour-360.mov
    [ "$(checksums "$movies")" = "$before" ] || fail "a movie changed"
    [ "$(find "$movies" -type f | wc -l)" -eq 4 ] || { ls -la "$movies" >&2; fail "more files than expected"; }
    ;;
  card)
    # A card as cameras write it: FAT32 with the kernel's driver, else exFAT
    # with FUSE's (whose two spellings of a name even have two inode numbers).
    mkdir -p "$work/card"
    truncate -s 96M "$work/card.img"
    if command -v mkfs.vfat >/dev/null && mkfs.vfat -F 32 -n CARD "$work/card.img" >/dev/null &&
       mount -o loop "$work/card.img" "$work/card" 2>"$work/mount.log"; then
      mounted="$work/card"
    elif command -v mkfs.exfat >/dev/null && command -v mount.exfat-fuse >/dev/null &&
         mkfs.exfat "$work/card.img" >/dev/null 2>>"$work/mount.log" &&
         loop="$(losetup -f --show "$work/card.img" 2>>"$work/mount.log")" &&
         mount.exfat-fuse "$loop" "$work/card" >>"$work/mount.log" 2>&1; then
      mounted="$work/card"
    else
      echo "SKIPPED: no card image can be mounted here ($(head -n 1 "$work/mount.log" 2>/dev/null))"
      exit 77
    fi
    movies="$work/card/DCIM/100CAMERA"
    mkdir -p "$movies"
    # Made beside the card and copied onto it, as a camera's movies are.
    for n in 1 2; do
      "$build/make_camera_movie" --size 640x320 --seconds 2 --seed $n "$work/R001000$n.MP4" >/dev/null
      cp "$work/R001000$n.MP4" "$movies/"
    done
    # The card's own test: the other case of a name is the movie itself.
    [ -e "$movies/r0010001.mp4" ] || fail "the card tells case apart"
    before="$(checksums "$movies")"
    convert_with_window "$movies" "$out" R0010001.mov R0010002.mov
    # As MP4: R0010001.mp4 would be the movie itself.
    mkdir -p "$XDG_CONFIG_HOME/spatialmux"
    printf '[General]\nformat=mp4-aac\n' >"$XDG_CONFIG_HOME/spatialmux/spatialmux-gui.ini"
    convert_with_window "$movies" "${out%.png}-mp4.png" R0010001-360.mp4 R0010002-360.mp4
    [ "$(checksums "$movies")" = "$before" ] || fail "a movie changed"
    ;;
  *) echo "usage: movies_beside_themselves.sh mov|card BUILD OUT.png" >&2; exit 2 ;;
esac
echo "$out"
