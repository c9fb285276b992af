#!/usr/bin/env bash
# Installs, only when missing, every Debian package that the build, the tests
# and the tools need. Safe to run again: it does nothing when all is there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git
  libavformat-dev libavcodec-dev libavutil-dev   # FFmpeg 5.1; libavcodec brings libx264/libx265
  libswscale-dev                                 # the pictures of spatialmux --soundmap
  libavfilter-dev                                # the headphone render of spatialmux --binaural
  libcli11-dev                                   # the command line (header-only)
  nlohmann-json3-dev                             # spatialmux --check --json (header-only)
  libgtest-dev                                   # the test suite
  ffmpeg nlohmann-json3-dev                      # the tests' ffprobe and its JSON
  qt6-base-dev                                   # the windowed droplet
  libxcb1-dev                                    # its check that the X display answers
  qt6-translations-l10n                          # Qt's own dialog texts in Japanese (qtbase_ja.qm)
  desktop-file-utils                             # the desktop entry's validation test
  xvfb xauth                                     # the windowed smoke test under a virtual display
  clang libclang-rt-14-dev                       # the fuzz targets that tools/test.sh runs
  util-linux                                     # unshare: the read-only volume of the fault tests
  xfsprogs e2fsprogs                             # the edit engine's reflink test (mkfs.xfs, filefrag)
  dpkg-dev file                                  # the Debian package: dpkg-shlibdeps, dpkg-buildflags
  lintian desktop-file-utils appstream man-db    # the package's checks (tools/package_check.sh)
)
if [ "${SPATIALMUX_SETUP_EXTRA:-}" = "hardening" ]; then
  packages+=(time)                               # the benchmarks' timing
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
