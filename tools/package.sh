#!/usr/bin/env bash
# Builds the Debian package, packed by CPack into BUILD/spatialmux_VERSION_ARCH.deb:
#   tools/package.sh              a build of its own in build-package/ (or
#                                 $SPATIALMUX_PACKAGE_BUILD_DIR), without tests
#   tools/package.sh --from DIR   the programs of a build that tools/build.sh
#                                 made (the same flags), as CI does after the tests
# Either way the browser edition's page is built first (tools/build_web.sh,
# into the build's web/, where the tests' web_core_build has put it already
# when there was one) and installed with spatialmux-web.
# Install it with: sudo apt-get install ./build-package/spatialmux_*.deb
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/tools/setup.sh" --package

if [ "${1:-}" = "--from" ] && [ -n "${2:-}" ]; then
  build="$(cd "$2" && pwd)"
  [ -f "$build/CMakeCache.txt" ] || { echo "package.sh: $build is not a build folder" >&2; exit 2; }
  grep -q '^CMAKE_EXE_LINKER_FLAGS:STRING=.*-z,now' "$build/CMakeCache.txt" ||
    { echo "package.sh: $build was not built with the package's flags (tools/build.sh)" >&2; exit 2; }
else
  build="${SPATIALMUX_PACKAGE_BUILD_DIR:-$root/build-package}"
  source "$root/tools/debian_flags.sh"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DSPATIALMUX_BUILD_TESTS=OFF -DSPATIALMUX_WITH_QT=ON -DSPATIALMUX_WERROR=OFF \
        "${debian_cmake_flags[@]}" >/dev/null
fi
# The page is found when the build is configured.
SPATIALMUX_WEB_BUILD_DIR="$build/web" SPATIALMUX_WEB_CMAKE_DIR="$build/web-cmake" \
  bash "$root/tools/build_web.sh"
cmake "$build" -DSPATIALMUX_WEB_DIR="$build/web" >/dev/null
cmake --build "$build"

rm -f "$build"/spatialmux_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/spatialmux_*.deb
