#!/usr/bin/env bash
# Builds the Debian package and tries it the way a user gets it: lintian on
# the package, `apt-get install` of the .deb, a conversion of the sample
# movie with the installed /usr/bin/spatialmux, the manual page, the desktop
# entry and the AppStream metadata as installed; then removes the package
# and whatever its installation brought in, leaving the machine as it was.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# --from DIR packs the programs of that build (made by tools/build.sh, as
# tools/test.sh does) instead of building the package from scratch.
# apt-get takes a .deb only by a path it can tell from a package name.
build="$(realpath -m "${SPATIALMUX_PACKAGE_BUILD_DIR:-$root/build-package}")"
from=()
if [ "${1:-}" = "--from" ] && [ -n "${2:-}" ]; then
  build="$(realpath -m "$2")"
  from=(--from "$build")
fi
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

if dpkg-query -W -f='${Status}' spatialmux 2>/dev/null | grep -q 'installed'; then
  echo "package_check: spatialmux is installed already; remove it first (apt-get remove spatialmux)." >&2
  exit 1
fi

echo "== building the package"
bash "$root/tools/package.sh" "${from[@]}" >/dev/null
debs=("$build"/spatialmux_*.deb)
deb="${debs[0]}"
echo "$deb"
dpkg-deb -f "$deb"

echo "== lintian"
# Errors fail the check; warnings and infos are shown.
lintian --fail-on error --tag-display-limit 0 "$deb"

echo "== installing"
before="$(mktemp)"
work="$(mktemp -d)"
dpkg-query -W -f='${Package}\n' | sort >"$before"
cleanup() {
  echo "== removing"
  local added
  added="$(dpkg-query -W -f='${Package}\n' | sort | comm -13 "$before" - | tr '\n' ' ')"
  # shellcheck disable=SC2086
  [ -n "$added" ] && $sudo apt-get remove -y -qq $added >/dev/null
  rm -rf "$before" "$work"
  if dpkg-query -W -f='${Status}' spatialmux 2>/dev/null | grep -q 'installed'; then
    echo "package_check: spatialmux is still installed" >&2
    exit 1
  fi
}
trap cleanup EXIT
$sudo apt-get install -y -qq "$deb" >/dev/null
[ "$(command -v spatialmux)" = /usr/bin/spatialmux ]
/usr/bin/spatialmux --version | tee "$work/version"
grep -q '^License: MIT' "$work/version"
grep -q '^License: Expat' /usr/share/doc/spatialmux/copyright
while read -r f; do if [ -f "$f" ]; then echo "$f"; fi; done < <(dpkg -L spatialmux | sort)
# Only the five programs are installed (the four and the page's server); the fixture builder and the tests never.
[ "$(dpkg -L spatialmux | grep -c '^/usr/bin/')" -eq 5 ]
for program in spatialmux spatialmux-render spatialmux-droplet spatialmux-gui; do
  [ -x "/usr/bin/$program" ] || { echo "package_check: /usr/bin/$program is not installed" >&2; exit 1; }
  if ldd "/usr/bin/$program" | grep -q 'not found'; then
    ldd "/usr/bin/$program"; echo "package_check: $program misses a library" >&2; exit 1
  fi
done

echo "== converting the sample movie with the installed program"
"$build/make_camera_movie" --sample "$work/sample.mp4" >/dev/null
/usr/bin/spatialmux "$work/sample.mp4" "$work/sample.mov" </dev/null >"$work/log" 2>&1 ||
  { cat "$work/log"; echo "package_check: the installed program failed to convert" >&2; exit 1; }
description="$("$build/make_camera_movie" --describe "$work/sample.mov")"
echo "$description"
grep -q 'spherical' <<<"$description"
grep -q 'audio pcm_s16le, 4 channels' <<<"$description"
[ -z "$(find "$work" -name '.*.wav')" ]  # the temporary WAV is gone
# The headphone render, in the program the installed command line finds
# beside it.
/usr/bin/spatialmux --binaural "$work/sample.mp4" "$work/sample.binaural.wav" </dev/null \
  >"$work/log" 2>&1 ||
  { cat "$work/log"; echo "package_check: the installed program failed to render" >&2; exit 1; }
[ -s "$work/sample.binaural.wav" ]

echo "== manual page, desktop entry, AppStream metadata"
if [ -e /usr/share/man/man1/spatialmux.1.gz ]; then
  page="$(MANWIDTH=80 man --warnings spatialmux 2>"$work/man-warnings")"
else
  # dpkg was told to leave out manual pages (a minimal image): read the
  # packaged one.
  dpkg-deb -x "$deb" "$work/unpacked"
  page="$(MANWIDTH=80 man --warnings -l "$work/unpacked/usr/share/man/man1/spatialmux.1.gz" 2>"$work/man-warnings")"
fi
head -n 12 <<<"$page"
grep -q 'EXIT STATUS' <<<"$page"
if [ -s "$work/man-warnings" ]; then cat "$work/man-warnings"; exit 1; fi
desktop-file-validate /usr/share/applications/spatialmux.desktop \
  /usr/share/applications/spatialmux-droplet.desktop
# The menu starts the queue window; the droplet is only offered for movies.
grep -qx 'Exec=spatialmux-gui %F' /usr/share/applications/spatialmux.desktop
grep -qx 'NoDisplay=true' /usr/share/applications/spatialmux-droplet.desktop
grep -qx 'MimeType=video/mp4;video/quicktime;' /usr/share/applications/spatialmux-droplet.desktop
for page in spatialmux-render spatialmux-gui spatialmux-droplet; do
  if [ -e "/usr/share/man/man1/$page.1.gz" ]; then
    if MANWIDTH=80 man --warnings "$page" 2>&1 >/dev/null | grep .; then exit 1; fi
  fi
done
# The installed window starts with a movie queued and runs until stopped
# (timeout's status 124), finding the installed command line beside it.
if command -v xvfb-run >/dev/null; then
  status=0
  xvfb-run -a timeout -s TERM 10 /usr/bin/spatialmux-gui "$work/sample.mp4" \
    >"$work/gui-log" 2>&1 || status=$?
  [ "$status" -eq 124 ] || { cat "$work/gui-log"; echo "package_check: spatialmux-gui ended with $status" >&2; exit 1; }
fi
# The browser edition: spatialmux-web serves the installed page on
# 127.0.0.1 with its policy, and the page's core beside it.
if [ -x /usr/bin/spatialmux-web ]; then
  /usr/bin/spatialmux-web --no-browser --port 0 >"$work/web-log" 2>&1 &
  web=$!
  for _ in $(seq 50); do grep -q 'http://' "$work/web-log" && break; sleep 0.1; done
  url="$(grep -o 'http://127.0.0.1:[0-9]*/' "$work/web-log")"
  python3 - "$url" <<'CHECK' || { kill "$web"; cat "$work/web-log"; exit 1; }
import sys, urllib.request
url = sys.argv[1]
page = urllib.request.urlopen(url)
assert "'self'" in page.headers['Content-Security-Policy'], page.headers
assert b'Content-Security-Policy' in page.read()
core = urllib.request.urlopen(url + 'core/spatialmux-core.wasm')
assert core.headers['Content-Type'] == 'application/wasm', core.headers
CHECK
  kill "$web"
  wait "$web" || true
  if [ -e /usr/share/man/man1/spatialmux-web.1.gz ] &&
     MANWIDTH=80 man --warnings spatialmux-web 2>&1 >/dev/null | grep .; then exit 1; fi
fi
appstreamcli validate --no-net /usr/share/metainfo/io.github.spatialmux.metainfo.xml
bash -c 'source /usr/share/bash-completion/completions/spatialmux && declare -F _spatialmux >/dev/null'

echo "package_check: the package builds, installs, converts and uninstalls"
