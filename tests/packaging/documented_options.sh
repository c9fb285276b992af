#!/usr/bin/env bash
# Every usage form of `spatialmux --help` has a description of its own, and
# every option that it lists is described in the OPTIONS section of the
# manual page (and each long one offered by the bash
# completion), and the manual page formats without a warning. A new option
# that misses one of them fails here.
#   documented_options.sh PROGRAM MANUAL_PAGE COMPLETION
set -euo pipefail
program="$1" page="$2" completion="$3"

options="$("$program" --help | grep -oE '(^|[][[:space:](|,])--?[a-zA-Z][a-zA-Z0-9-]*' |
           sed -E 's/^[^-]*//' | sort -u)"
if [ -z "$options" ]; then
  echo "no option found in: $program --help" >&2
  exit 1
fi

# The usage lines: each form ("  spatialmux ...", perhaps continued on a line
# of its own) is followed by its own description, either on the same line
# or on the lines indented below it. A form without one means that its text
# sits under a neighbour (as the batch form's once sat under --remux).
usage_problems="$("$program" --help | awk '
  /^usage:/ { inside = 1; next }
  inside && /^$/ { inside = 0 }
  !inside { next }
  /^  spatialmux / {
    if (form != "" && !described) print "no description under: " form
    form = $0; sub(/^ +/, "", form)
    described = ($0 ~ /^  spatialmux .*[^ ]   +[a-z(]/)
    next
  }
  /^             [^ ]/ { next }
  /^                            [^ ]/ { described = 1 }
  END { if (form != "" && !described) print "no description under: " form }')"
if [ -n "$usage_problems" ]; then
  echo "$program --help: $usage_problems" >&2
  exit 1
fi

section="$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page")"
offered=" $(sed -nE 's/^[[:space:]]*local options="([^"]*)".*/\1/p' "$completion") "
status=0
for option in $options; do
  if ! grep -qF -- ".B${option//-/\\-}" <<<"$section" &&
     ! grep -qF -- " ${option//-/\\-}" <<<"$section"; then
    echo "$page: the OPTIONS section does not describe $option" >&2
    status=1
  fi
  if [[ $option == --* && $offered != *" $option "* ]]; then
    echo "$completion: the options offered lack $option" >&2
    status=1
  fi
done

# Every page beside it renders without a warning (a stray control character
# in a font change, a bad request), in the plain locale of a fresh machine,
# where groff is strictest.
if command -v man >/dev/null; then
  for each in "$(dirname "$page")"/*.1; do
    warnings="$(LC_ALL=C MANWIDTH=80 man --warnings -l "$each" 2>&1 >/dev/null || true)"
    if [ -n "$warnings" ]; then
      echo "$each: $warnings" >&2
      status=1
    fi
  done
fi
exit $status
