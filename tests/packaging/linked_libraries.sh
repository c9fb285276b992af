#!/usr/bin/env bash
# The libraries each program asks the loader for (its DT_NEEDED entries):
# libavfilter, and the some thirty libraries Debian's pulls in, only for the
# headphone render's program, never for the command line that every
# conversion, batch child and check runs.
#   linked_libraries.sh SPATIALMUX SPATIALMUX_RENDER
set -euo pipefail
command_line="$1" render="$2"

needed() {
  readelf --dynamic --wide "$1" | sed -nE 's/.*\(NEEDED\).*\[(.*)\]$/\1/p'
}

status=0
libraries="$(needed "$command_line")"
# The reading must have worked: the command line reads movies with libavformat.
if ! grep -q '^libavformat\.so' <<<"$libraries"; then
  echo "no libavformat among the libraries of $command_line:" >&2
  echo "$libraries" >&2
  status=1
fi
if grep '^libavfilter\.so' <<<"$libraries"; then
  echo "$command_line loads libavfilter: the headphone render belongs to $render" >&2
  status=1
fi
if ! needed "$render" | grep -q '^libavfilter\.so'; then
  echo "$render does not link libavfilter: is the render in it?" >&2
  status=1
fi
exit "$status"
