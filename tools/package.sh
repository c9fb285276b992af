#!/usr/bin/env bash
# Builds the Debian package: a Release build without tests, with Debian's
# hardening flags, in build-package/ (or $SPATIALMUX_PACKAGE_BUILD_DIR),
# packed by CPack into build-package/spatialmux_VERSION_ARCH.deb.
# Install it with: sudo apt-get install ./build-package/spatialmux_*.deb
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${SPATIALMUX_PACKAGE_BUILD_DIR:-$root/build-package}"
bash "$root/tools/setup.sh"

# All of Debian's hardening, immediate binding included.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DSPATIALMUX_BUILD_TESTS=OFF -DSPATIALMUX_WITH_QT=ON -DSPATIALMUX_WERROR=OFF \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS) -fno-ident" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
      "${launcher[@]}" >/dev/null
cmake --build "$build"

rm -f "$build"/spatialmux_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/spatialmux_*.deb
