#!/usr/bin/env bash
# Every option that `spatialmux --help` lists is described in the OPTIONS
# section of the manual page (and each long one offered by the bash
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

if command -v man >/dev/null; then
  warnings="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)"
  if [ -n "$warnings" ]; then
    echo "$page: $warnings" >&2
    status=1
  fi
fi
exit $status
