#!/bin/bash
# Runs a command as root inside a bed chroot, on a throwaway overlay of it:
#   enter.sh CHROOT SOURCE CMD...
# The chroot itself is never written to (several runs may share it, and the
# package check installs into the overlay); everything runs in new mount and
# PID namespaces, so no mount and no process outlives CMD. Inside: proc, sys,
# the host's /dev with a fresh /dev/shm, tmpfs /run and /tmp, the source tree
# SOURCE at its own path (read-write: the build folder is in it), the host's
# resolver, and a compiler cache per release in /var/cache/ccache.
# Variables named VELMORA_* and BED_* pass through.
set -euo pipefail
root=$(realpath "${1:?usage: enter.sh CHROOT SOURCE CMD...}")
source_dir=$(realpath "${2:?usage: enter.sh CHROOT SOURCE CMD...}")
shift 2
[ -x "$root/bin/bash" ] || {
  echo "enter.sh: no chroot at $root" >&2
  exit 2
}
release=$(basename "$root")
release=${release%%-*}
cache=${VELMORA_CCACHE_ROOT:-/var/cache/velmora/ccache}/$release
mkdir -p "$cache" /var/tmp/velmora-beds
layer=$(mktemp -d /var/tmp/velmora-beds/overlay-XXXXXX)
# --one-file-system: never into a mount, should one outlive the namespace.
trap 'rm -rf --one-file-system "$layer"' EXIT
mkdir "$layer/upper" "$layer/work" "$layer/merged"

pass=()
while IFS='=' read -r name _; do
  case "$name" in VELMORA_* | BED_*) pass+=("$name=${!name}") ;; esac
done < <(env)

# Not exec'd: the last command of a PID namespace would be its init, which
# takes no default signal actions. The inner script expands its own arguments.
# shellcheck disable=SC2016
unshare --mount --pid --fork --propagation private -- bash -c '
  set -e
  root=$1 layer=$2 source_dir=$3 cache=$4
  shift 4
  r=$layer/merged
  mount -t overlay overlay -o "lowerdir=$root,upperdir=$layer/upper,workdir=$layer/work" "$r"
  mount -t proc proc "$r/proc"
  mount -t sysfs sysfs "$r/sys"
  mount --rbind /dev "$r/dev"
  mount -t tmpfs -o mode=1777,size=1g shm "$r/dev/shm"
  mount -t tmpfs -o mode=755,size=256m run "$r/run"
  mount -t tmpfs -o mode=1777,size=4g tmp "$r/tmp"
  mkdir -p "$r$source_dir" "$r/var/cache/ccache"
  mount --bind "$source_dir" "$r$source_dir"
  mount --bind "$cache" "$r/var/cache/ccache"
  [ -e /etc/resolv.conf ] && cp -L /etc/resolv.conf "$r/etc/resolv.conf"
  chroot "$r" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" CCACHE_DIR=/var/cache/ccache "$@"
' enter "$root" "$layer" "$source_dir" "$cache" "${pass[@]}" "$@"
