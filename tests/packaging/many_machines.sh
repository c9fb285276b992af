#!/usr/bin/env bash
# Runs the recipes of docs/many-machines.md as written (the code blocks under
# "Convert a share" and "A report"), with GNU parallel on this machine as the
# only host (`2/:`), on a share of fixture clips: every clip is converted
# once, a clip that fails does not stop the others, the exit status counts
# the failures, a second run skips what is done, and the report has a line a
# movie.
#   many_machines.sh SPATIALMUX MAKE_CAMERA_MOVIE DOC
# Exits 77 (skipped) when GNU parallel is not installed.
set -euo pipefail
program="$(realpath "$1")" fixture="$(realpath "$2")" doc="$3"

if ! command -v parallel >/dev/null || ! parallel --version 2>/dev/null | grep -q 'GNU parallel'; then
  echo "GNU parallel is not installed (Debian package parallel): skipped"
  exit 77
fi

# The first sh block after a heading, without the lines that set the three
# places (the test sets its own).
block() {
  awk -v heading="$1" '
    $0 == heading { found = 1; next }
    found && /^```sh$/ { inside = 1; next }
    inside && /^```$/ { exit }
    inside' "$doc" | grep -vE '^(CARDS|OUT|HOSTS)='
}
convert="$(block '## Convert a share')"
report="$(block '## A report')"
[ -n "$convert" ] && [ -n "$report" ] || { echo "$doc: a recipe was not found" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/home"
ln -s "$program" "$work/bin/spatialmux"
export PATH="$work/bin:$PATH" HOME="$work/home"
mkdir -p "$HOME/.parallel" && touch "$HOME/.parallel/will-cite"
export CARDS="$work/cards" OUT="$work/converted" HOSTS="$work/hosts"
echo "2/:" > "$HOSTS"

for clip in A/DCIM/100/R001.MP4 A/DCIM/100/R002.MP4 B/DCIM/100/R001.MP4 C/DCIM/100/R003.MP4; do
  mkdir -p "$CARDS/$(dirname "$clip")"
  "$fixture" --seconds 1 "$CARDS/$clip" >/dev/null
done
echo "not a movie" > "$CARDS/A/DCIM/100/NOTES.MP4"        # skipped
cp "$CARDS/A/DCIM/100/R001.MP4" "$CARDS/A/DCIM/100/._R001.MP4"  # a Mac's hidden file: left out
mkdir -p "$OUT/C/DCIM"
echo "in the way" > "$OUT/C/DCIM/100"                     # R003's folder is a file: it fails

fail() { echo "many_machines: $*" >&2; exit 1; }
run() { (cd "$work" && bash -c "$convert") > "$work/$1.log" 2>&1 || true; cat "$work/$1.log"; }

run first
grep -qx 'clips failed: 1' "$work/first.log" || fail "the first run did not count one failure"
outputs=(A/DCIM/100/R001.mov A/DCIM/100/R002.mov B/DCIM/100/R001.mov)
for output in "${outputs[@]}"; do
  [ -f "$OUT/$output" ] || fail "$output was not converted"
done
[ "$(grep -c '^converted ' "$work/first.log")" -eq 3 ] || fail "not every clip was converted once"
grep -q '^skipped NOTES.MP4: not a camera movie' "$work/first.log" || fail "NOTES.MP4 was not skipped"
! grep -q '_R001' "$work/first.log" || fail "a hidden file was converted"
[ "$(tail -n +2 "$OUT/joblog" | wc -l)" -eq 5 ] || fail "the job log does not have a line a clip"
[ -z "$(find "$OUT" -name '.*' -not -name joblog)" ] || fail "hidden files were left behind"
stamps="$(cd "$OUT" && stat -c '%i %Y %n' "${outputs[@]}")"

run second
grep -qx 'clips failed: 1' "$work/second.log" || fail "the second run did not count one failure"
! grep -q '^converted ' "$work/second.log" || fail "the second run converted a clip again"
[ "$(grep -c '^skipped R00[12].MP4: .* already exists' "$work/second.log")" -eq 3 ] ||
  fail "the second run did not skip the converted clips"
[ "$(cd "$OUT" && stat -c '%i %Y %n' "${outputs[@]}")" = "$stamps" ] || fail "an output was rewritten"

(cd "$work" && bash -c "$report") > "$work/report.log" 2>&1 || true
[ "$(wc -l < "$OUT/report.jsonl")" -eq 3 ] || fail "the report does not have a line a movie"
[ "$(grep -c '"ready":true' "$OUT/report.jsonl")" -eq 3 ] || fail "a converted movie is not ready"
echo "many_machines: the recipes convert, skip, count failures and report"
