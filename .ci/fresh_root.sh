#!/usr/bin/env bash
# Runs a command of the checkout inside a new Debian 12 root made for this run,
# as on a machine that has never seen the project:
#
#   bash .ci/fresh_root.sh bash .ci/stages.sh
#
# The root is a minimal Debian 12 (mmdebstrap --variant=minbase bookworm)
# with this machine's own apt sources and settings copied in, and nothing
# else from this machine but the kernel: the checkout's files (tracked and
# untracked, not ignored: no build folders) are copied to /src, and whatever
# the command needs it must install itself (tools/setup.sh). /proc, /sys,
# /dev and /dev/pts are mounted in a mount and PID namespace of the run's own,
# so the mounts and every process started inside end with the run, however it
# ends; the root is then removed (on success, failure, Ctrl-C or a stop signal),
# and roots left by a run that was killed outright are removed by the next.
#
# Environment:
#   SPATIALMUX_CI_APT_CACHE   downloaded .debs kept between runs (default
#                             /var/cache/spatialmux-ci/archives); they hold no
#                             installed state, so they cannot hide a missing step
#   SPATIALMUX_CI_KEEP_ROOT=1 leave the root for a look (its path is printed)
set -euo pipefail
checkout="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ $# -eq 0 ]; then
  echo "usage: .ci/fresh_root.sh COMMAND [ARGUMENT...]   (run in the checkout, as /src, inside the root)" >&2
  exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "fresh_root: needs root (it makes a Debian root, mounts into it and changes into it)" >&2
  exit 2
fi
started=$SECONDS

# The one tool that makes the root, on this machine.
if ! command -v mmdebstrap >/dev/null; then
  echo "== installing mmdebstrap on this machine"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends mmdebstrap >/dev/null
fi

# The .debs of earlier runs, linked into the root's own apt cache (not the
# folder itself: apt locks its cache, and two runs may go at once); what this
# run downloads is linked back when it ends.
cache="${SPATIALMUX_CI_APT_CACHE:-/var/cache/spatialmux-ci/archives}"
mkdir -p "$cache"
keep_downloads() {
  find "$1" -maxdepth 1 -name '*.deb' -exec cp -l -n -t "$2" {} + 2>/dev/null ||
    find "$1" -maxdepth 1 -name '*.deb' -exec cp -n -t "$2" {} +
}

parent=/var/tmp
prefix=spatialmux-ci-root.

# Removes a root: nothing can be mounted in it from this namespace (its mounts
# lived in the run's own), but a root from elsewhere is checked before any
# file is deleted, and only this file system is walked.
remove_root() {
  local dir="$1"
  if findmnt -rn -o TARGET | grep -q "^$dir/"; then
    umount -R -l "$dir/root" 2>/dev/null || true
    if findmnt -rn -o TARGET | grep -q "^$dir/"; then
      echo "fresh_root: $dir still has mounts; not removed" >&2
      return 1
    fi
  fi
  rm -rf --one-file-system "$dir"
}

# Roots of runs that ended without their clean-up (SIGKILL, a power cut).
for old in "$parent/$prefix"*; do
  [ -d "$old" ] || continue
  owner="$(cat "$old/owner" 2>/dev/null || true)"
  if [ -n "$owner" ] && kill -0 "$owner" 2>/dev/null; then continue; fi
  echo "== removing the leftover root $old"
  remove_root "$old" || true
done

work="$(mktemp -d "$parent/${prefix}XXXXXX")"
echo $$ >"$work/owner"
rootfs="$work/root"
inside=""
# shellcheck disable=SC2317  # reached through the traps
finish() {
  local status=$?
  trap - EXIT INT TERM
  # The child working at the moment (mmdebstrap, or the namespace the command
  # runs in, whose processes all end with it).
  # unshare ignores SIGTERM while it waits: after a grace, SIGKILL, which
  # --kill-child passes on to the namespace's first process, and with it
  # the kernel ends every other.
  if [ -n "$inside" ]; then
    kill -TERM "$inside" 2>/dev/null || true
    for _ in $(seq 20); do
      kill -0 "$inside" 2>/dev/null || break
      sleep 0.5
    done
    kill -KILL "$inside" 2>/dev/null || true
    wait "$inside" 2>/dev/null || true
  fi
  if [ -d "$rootfs/var/cache/apt/archives" ]; then keep_downloads "$rootfs/var/cache/apt/archives" "$cache" || true; fi
  if [ "${SPATIALMUX_CI_KEEP_ROOT:-}" = 1 ]; then
    echo "fresh_root: the root is kept in $rootfs"
  else
    remove_root "$work" || status=1
  fi
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# This machine's apt sources and its plain settings (no hooks: they would run
# programs the new root does not have).
mirrors=()
if grep -qs '^[[:space:]]*deb' /etc/apt/sources.list; then mirrors+=(/etc/apt/sources.list); fi
for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  if [ -f "$f" ]; then mirrors+=("$f"); fi
done
if [ ${#mirrors[@]} -eq 0 ]; then
  echo "fresh_root: this machine has no apt sources to copy" >&2
  exit 1
fi
aptopts=()
for f in /etc/apt/apt.conf.d/*; do
  if [ -f "$f" ] && ! grep -qE 'Invoke|Pre-Install-Pkgs|Post-Install' "$f"; then aptopts+=(--aptopt="$f"); fi
done

echo "== making a new Debian 12 root: mmdebstrap --variant=minbase bookworm $rootfs"
echo "   apt sources: ${mirrors[*]}"
# In the background, so that a stop signal is acted on at once (a shell runs
# its traps only between commands).
mmdebstrap --quiet --variant=minbase "${aptopts[@]}" bookworm "$rootfs" "${mirrors[@]}" &
inside=$!
wait "$inside"
inside=""
# What a machine has from its installer: name resolution, and no services
# started by package installs.
cp /etc/resolv.conf "$rootfs/etc/resolv.conf"
cp /etc/hosts "$rootfs/etc/hosts"
printf '#!/bin/sh\nexit 101\n' >"$rootfs/usr/sbin/policy-rc.d"
chmod 755 "$rootfs/usr/sbin/policy-rc.d"
echo "   root made: $((SECONDS - started)) s, $(du -sh --one-file-system "$rootfs" | cut -f1)"

echo "== copying the checkout to /src"
mkdir "$rootfs/src"
(cd "$checkout" && git ls-files -z --cached --others --exclude-standard |
   while IFS= read -r -d '' f; do if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi; done |
   tar --null -T - -cf -) | tar -xf - -C "$rootfs/src"

keep_downloads "$cache" "$rootfs/var/cache/apt/archives"

echo "== running in the new root: $*"
# The mounts and the processes belong to the namespace: when its first
# process ends, the kernel ends the others and the mounts go with it.
# shellcheck disable=SC2016  # expanded by the inner shell
unshare --mount --pid --fork --kill-child --propagation private -- bash -c '
  set -euo pipefail
  root="$1"; shift
  # The root a mount of its own, as / is on a machine: a test that makes
  # its own mount namespace inside changes the propagation of /.
  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys"
  mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev"
  mountpoint -q "$root/dev/pts" || mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
  exec chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" CI="${CI:-}" \
       PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
       ${SPATIALMUX_FUZZ_SECONDS:+SPATIALMUX_FUZZ_SECONDS=$SPATIALMUX_FUZZ_SECONDS} \
       /bin/bash -c "cd /src && exec \"\$@\"" run-in-root "$@"
' fresh-root "$rootfs" "$@" &
inside=$!
status=0
wait "$inside" || status=$?
inside=""
echo "== fresh root: the command ended with status $status after $((SECONDS - started)) s in all"
exit "$status"
