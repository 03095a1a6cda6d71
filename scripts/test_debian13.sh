#!/usr/bin/env bash
# Runs the test command (scripts/test.sh) as a new user of a fresh Debian 13
# (trixie) machine would: in a trixie chroot, on a clean clone of this
# repository's HEAD, with nothing installed but Debian's minimal base, so that
# scripts/bootstrap.sh has to set everything up. Needs root; run from Debian 12.
#
# The minimal base is made once with debootstrap from the configured Debian
# mirror and kept in build/debian13/base. Each run works on a throwaway layer
# over it (overlayfs), so every run starts from the same fresh machine;
# downloaded packages are kept in build/debian13/apt-archives to spare the
# mirror. Arguments go to pytest, as with scripts/test.sh.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"

if [ "$(id -u)" -ne 0 ]; then
  echo "The Debian 13 check makes a chroot and mounts file systems: run it as root (sudo $0)." >&2
  exit 1
fi
if ! command -v debootstrap >/dev/null; then
  # As in the set-up: an index that fails mid-sync leaves the others usable.
  apt-get update -qq || echo "apt-get update failed for some index; installing from what it could read" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi

cache="$repo/build/debian13"
base="$cache/base"
run="$cache/run"
root="$run/root"

# The mirror this machine already uses (deb822 .sources or one-line lists).
configured_uri() {  # $1: pattern the archive's path ends with
  { cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true; } |
    grep -oE "(URIs:[[:space:]]*|^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?)https?://[^[:space:]]+$1/?([[:space:]]|$)" |
    grep -oE "https?://[^[:space:]]+" | sed 's:/$::' | head -n1 || true
}
mirror="$(configured_uri /debian)"
security="$(configured_uri /debian-security)"
mirror="${mirror:-http://deb.debian.org/debian}"
security="${security:-http://deb.debian.org/debian-security}"

if [ ! -f "$base/etc/debian_version" ]; then
  echo "Making the Debian 13 base once (debootstrap from $mirror) in $base"
  rm -rf "$base.partial"
  mkdir -p "$cache"
  debootstrap --variant=minbase --arch=amd64 trixie "$base.partial" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
    { tail -n 20 "$cache/debootstrap.log" >&2; exit 1; }
  cat >"$base.partial/etc/apt/sources.list" <<EOF
deb $mirror trixie main
deb $mirror trixie-updates main
deb $security trixie-security main
EOF
  mv "$base.partial" "$base"
fi

mounted=()
cleanup() {
  local status=$? pid i
  # Whatever still runs inside (a Wine server, its services) holds the mounts.
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    if [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ]; then kill -9 "$pid" 2>/dev/null || true; fi
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" || status=1
  done
  # Only the throwaway layer is deleted, and only once nothing is mounted in it.
  if findmnt -rn -o TARGET | grep -q "^$run"; then
    echo "Still mounted below $run: left in place" >&2
    status=1
  else
    rm -rf "$run"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

mount_on() {  # mount_on TARGET mount-arguments...
  local target="$1"
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounted+=("$target")
  # Nothing mounted in the chroot shows up elsewhere, the machine's /dev included.
  mount --make-private "$target"
}

rm -rf "$run"
mkdir -p "$run/upper" "$run/work" "$cache/apt-archives/partial"
mount_on "$root" -t overlay overlay -o "lowerdir=$base,upperdir=$run/upper,workdir=$run/work"
mount_on "$root/proc" -t proc proc
mount_on "$root/sys" -t sysfs -o ro sysfs
mount_on "$root/dev" --bind /dev
mount_on "$root/dev/pts" -t devpts -o newinstance,ptmxmode=0666 devpts
mount_on "$root/dev/shm" -t tmpfs -o mode=1777 tmpfs
mount_on "$root/var/cache/apt/archives" --bind "$cache/apt-archives"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

commit="$(git -C "$repo" rev-parse HEAD)"
git clone --quiet --no-hardlinks "$repo" "$root/root/src"
git -C "$root/root/src" checkout --quiet --detach "$commit"
echo "Debian $(cat "$root/etc/debian_version") chroot, clean clone of $(git -C "$repo" rev-parse --short HEAD): scripts/test.sh"

start=$SECONDS
set +e
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  /bin/bash -c 'cd /root/src && scripts/test.sh "$@"' test.sh "$@" </dev/null
status=$?
set -e
echo "Debian 13: scripts/test.sh exited $status after $((SECONDS - start)) s"
exit "$status"
