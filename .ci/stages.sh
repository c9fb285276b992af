#!/usr/bin/env bash
# README's two commands in README's order, as a newcomer runs them, then the
# package check: the main command (tools/run.sh converts the bundled sample),
# the test command (tools/test.sh), and tools/package_check.sh, which packs
# the programs the tests ran, installs the package, converts the sample with
# the installed program and removes it again. Prints how long each stage took.
# .ci/run runs this inside a new Debian root, or on this machine with
# SPATIALMUX_CI_HOST=1.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck disable=SC2034  # read by the EXIT trap
start=$SECONDS
SPATIALMUX_STAGE_TIMES="$(mktemp)"
export SPATIALMUX_STAGE_TIMES
trap 'echo "== stage times"; cat "$SPATIALMUX_STAGE_TIMES"; echo "   total: $((SECONDS - start)) s"; rm -f "$SPATIALMUX_STAGE_TIMES"' EXIT

stage=$SECONDS
echo "== README's main command: bash tools/run.sh"
bash tools/run.sh
echo "   main command (set-up, lean build, the sample): $((SECONDS - stage)) s" >> "$SPATIALMUX_STAGE_TIMES"

echo "== README's test command: bash tools/test.sh"
bash tools/test.sh

stage=$SECONDS
echo "== the package check"
bash tools/package_check.sh --from build
echo "   package check: $((SECONDS - stage)) s" >> "$SPATIALMUX_STAGE_TIMES"
