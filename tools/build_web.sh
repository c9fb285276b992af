#!/usr/bin/env bash
# Builds the browser edition into build-web/ (or $SPATIALMUX_WEB_BUILD_DIR):
# the core compiled with em++ from the same C++ sources as the desktop
# program (core/spatialmux-core.js and .wasm), then the page's files from
# web/, index.html at the top. The compiler's own build tree is
# build-web-cmake/ (or $SPATIALMUX_WEB_CMAKE_DIR), so that build-web/ holds
# only what a web server publishes.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${SPATIALMUX_WEB_BUILD_DIR:-$root/build-web}"
work="${SPATIALMUX_WEB_CMAKE_DIR:-$out-cmake}"
if ! command -v em++ >/dev/null || ! command -v emcmake >/dev/null; then
    echo "build_web.sh: em++ is not installed (Debian's emscripten: bash tools/setup.sh --tests)" >&2
    exit 1
fi
# em++'s optimizer runs on Node and needs Debian's Node modules.
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
emcmake cmake -S "$root" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
        -DSPATIALMUX_BUILD_TESTS=OFF -DSPATIALMUX_WITH_QT=OFF "$@" >/dev/null
cmake --build "$work" --target spatialmux-core
mkdir -p "$out/core"
cp "$work/core/spatialmux-core.js" "$work/core/spatialmux-core.wasm" "$out/core/"
if [ -d "$root/web" ]; then
    cp -R "$root/web/." "$out/"
    # The page's texts are the desktop program's, read at run time; its icon too.
    mkdir -p "$out/strings"
    cp "$root"/resources/strings/*.strings "$out/strings/"
    cp "$root/resources/spatialmux.svg" "$out/"
fi
echo "build_web.sh: the browser edition is in $out"
