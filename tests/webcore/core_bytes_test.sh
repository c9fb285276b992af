#!/usr/bin/env bash
# The core compiled with em++ (tools/build_web.sh) under Node against the
# desktop program, over the fixture builder's movies: the check's JSON is
# `spatialmux --check --json`'s, a conversion's output is the desktop's byte
# for byte, a damaged movie and one the browser cannot convert are refused
# with the droplet's words (in Japanese when asked), and a cancel says so.
# usage: core_bytes_test.sh SPATIALMUX MAKE_CAMERA_MOVIE CORE_JS STRINGS_DIR
# Exits 77 (skipped) without em++'s build or Node.
set -euo pipefail
spatialmux="$1"
make_movie="$2"
core="$3"
strings="$4"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if ! command -v node >/dev/null || [ ! -f "$core" ]; then
    echo "skipped: the browser's core was not built (no em++ or Node: bash tools/setup.sh --tests)"
    exit 77
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
web() {
    node --no-experimental-fetch "$here/run_core.js" "$core" "$@" 2>web.err
}
# True when the answer holds each of the texts after it.
holds() {
    local answer="$1"
    shift
    for text in "$@"; do
        [[ "$answer" == *"$text"* ]] || return 1
    done
}
# The text of `key` in a .strings file, up to its placeholder.
string_head() {
    sed -n "s/^\"$1\" = \"\\([^{]*\\).*/\\1/p" "$strings/$2.strings"
}

# Name, the fixture builder's options, the desktop's options, the core's.
rows=(
    "camera-h264.mp4||"
    "camera-hevc.mp4|--hevc|"
    "ambix.mov|--foa ambix|"
    "undeclared.mov|--foa ambix --no-sa3d|--ambisonics ambix"
)
for row in "${rows[@]}"; do
    IFS='|' read -r name build desktop <<<"$row"
    # shellcheck disable=SC2086
    "$make_movie" --samples 20000 $build "$name" >/dev/null
    "$spatialmux" --check --json "$name" >desktop.json || true
    web check "$name" >web.json
    cmp -s desktop.json web.json || fail "$name: the check differs: $(diff desktop.json web.json)"
    options='{"language":"en"}'
    [ -n "$desktop" ] && options="{\"ambisonics\":\"${desktop#--ambisonics }\"}"
    # shellcheck disable=SC2086
    "$spatialmux" $desktop "$name" "desktop-$name.mov" >/dev/null || fail "$name: the desktop refused it"
    answer="$(web convert "$name" "web-$name.mov" "$options")"
    holds "$answer" '"ok":true' '"verified":true' || fail "$name: $answer"
    cmp -s "desktop-$name.mov" "web-$name.mov" || fail "$name: the outputs differ"
done
[ "$(web name 'A.MP4')" = '{"name":"A.mov"}' ] || fail "the output name of A.MP4: $(web name A.MP4)"
[ "$(web name 'clip.MOV')" = '{"name":"clip-360.mov"}' ] || fail "the output name of clip.MOV: $(web name clip.MOV)"

# Cut short: the droplet's "damaged or incomplete", in English and Japanese.
cp camera-h264.mp4 cut.mp4
truncate -s 100000 cut.mp4
for language in en ja; do
    answer="$(web convert cut.mp4 web-cut.mov "{\"language\":\"$language\"}")"
    holds "$answer" '"refused":true' "$(string_head alert.damaged "$language")" ||
        fail "cut.mp4 ($language): $answer"
done
# FuMa must be decoded: refused in the browser, pointing to the desktop.
"$make_movie" --samples 20000 --foa fuma fuma.mov >/dev/null
answer="$(web convert fuma.mov web-fuma.mov '{"ambisonics":"fuma"}')"
holds "$answer" '"refused":true' "$(string_head web.desktop.only en)" || fail "fuma.mov: $answer"
# A cancel from the first progress on.
answer="$(web convert camera-h264.mp4 cancelled.mov '{}' cancel)"
[ "$answer" = '{"cancelled":true,"ok":false}' ] || fail "cancel: $answer"

if [ "$failures" -gt 0 ]; then
    echo "$failures failures"
    exit 1
fi
echo "the browser's core agrees with the desktop program"
