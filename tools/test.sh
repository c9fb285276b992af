#!/usr/bin/env bash
# Sets up a fresh machine, builds with warnings as errors and runs every test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/tools/setup.sh"
bash "$root/tools/build.sh" -DSPATIALMUX_WERROR=ON -DSPATIALMUX_BUILD_TESTS=ON
cd "${SPATIALMUX_BUILD_DIR:-$root/build}"
ctest --output-on-failure -j "$(nproc)"
