#!/usr/bin/env bash
# Configures and builds spatialmux into build/ (or $SPATIALMUX_BUILD_DIR)
# with the flags of the Debian package (tools/debian_flags.sh), so that
# tools/package.sh --from build packs what was built and tested here.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${SPATIALMUX_BUILD_DIR:-$root/build}"
source "$root/tools/debian_flags.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${debian_cmake_flags[@]}" \
      "$@" >/dev/null
cmake --build "$build"
