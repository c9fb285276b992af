#!/usr/bin/env bash
# Installs, only when missing, the Debian packages that a job needs. Safe to
# run again: it does nothing when all is there.
#
#   tools/setup.sh              build the command line and run it (tools/run.sh)
#   tools/setup.sh --windowed   and the windowed programs (Qt 6)
#   tools/setup.sh --package    and the Debian package (tools/package.sh)
#   tools/setup.sh --tests      everything the tests and CI need (tools/test.sh,
#                               tools/package_check.sh)
#
# SPATIALMUX_SETUP_EXTRA=hardening adds what the benchmarks need.
set -euo pipefail

build=(
  g++ cmake ninja-build pkg-config
  libavformat-dev libavcodec-dev libavutil-dev   # FFmpeg 5.1; libavcodec brings libx264/libx265
  libswscale-dev                                 # the pictures of spatialmux --soundmap
  libavfilter-dev                                # the headphone render of spatialmux --binaural
  libcli11-dev                                   # the command line (header-only)
  nlohmann-json3-dev                             # spatialmux --check --json (header-only)
)
windowed=(
  qt6-base-dev                                   # the windowed programs
  libxcb1-dev                                    # their check that the X display answers
  qt6-translations-l10n                          # Qt's own dialog texts in Japanese (qtbase_ja.qm)
)
package=(
  dpkg-dev file                                  # dpkg-shlibdeps, dpkg-buildflags
  emscripten                                     # em++: the browser edition's core (tools/build_web.sh)
)
tests=(
  git libgtest-dev                               # the test suite
  ffmpeg                                         # the tests' ffprobe
  vlc-bin vlc-plugin-base libvlc-dev             # the tests' real 360 player: VLC 3 (libspatialaudio, libmysofa's HRTF)
  desktop-file-utils                             # the desktop entry's validation test
  xvfb xauth                                     # the windowed smoke test under a virtual display
  xdotool imagemagick                            # the windowed stop test answers the real save dialog;
                                                 # the queue window's smoke test and tools/screenshot.sh
  strace                                         # the test that the output is synced before its rename
  clang libclang-rt-14-dev                       # the fuzz targets that tools/test.sh runs
  util-linux                                     # unshare: the read-only volume of the fault tests
  xfsprogs e2fsprogs                             # the edit engine's reflink test (mkfs.xfs, filefrag)
  dosfstools exfatprogs exfat-fuse               # a card image, FAT32 or (where the kernel has no FAT)
                                                 # exFAT through FUSE: the queue window's card test
  parallel                                       # the many-machines recipe (docs/many-machines.md)
  shellcheck                                     # the scripts' lint test
  locales                                        # localedef: the render's test under a decimal-comma locale
  lintian appstream man-db                       # the package's checks (tools/package_check.sh)
  chromium firefox-esr                           # the browser edition's page, end to end (tests/web)
  nodejs                                         # the browser's core's tests under Node (em++ is in the package list)
)

packages=("${build[@]}")
case "${1:-}" in
  "") ;;
  --windowed) packages+=("${windowed[@]}") ;;
  --package) packages+=("${windowed[@]}" "${package[@]}") ;;
  --tests) packages+=("${windowed[@]}" "${package[@]}" "${tests[@]}") ;;
  *) echo "usage: tools/setup.sh [--windowed|--package|--tests]" >&2; exit 2 ;;
esac
if [ "${SPATIALMUX_SETUP_EXTRA:-}" = "hardening" ]; then
  packages+=(time)                               # the benchmarks' timing
  packages+=(eatmydata)                          # the sync benchmark: a conversion with its syncs off
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
