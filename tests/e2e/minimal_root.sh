# Sourced by the root-only tests that work in a fresh minimal Debian 12
# system: open_minimal_root NAME CACHE unpacks one (mmdebstrap, variant
# minbase, made once and kept in CACHE as a tarball keyed by the suite, the
# variant and the architecture) into a temporary folder $root, with /proc,
# /dev and CACHE/archives (apt's downloads, kept between runs) mounted,
# and removes it all at exit. in_root runs a command inside it with a bare
# environment; fail ends the test with NAME's message; $on_exit, when set,
# runs first at exit. One test at a time: they share CACHE/archives.
open_minimal_root() {
  name=$1
  cache=$(realpath -m "$2")
  [ "$(id -u)" -eq 0 ] || { echo "$name: not root, skipped"; exit 77; }
  command -v mmdebstrap >/dev/null || "$(dirname "$0")/../../scripts/deps.sh" --build mmdebstrap
  suite=bookworm
  variant=minbase
  arch=$(dpkg --print-architecture)
  key=$(printf '%s %s %s\n' "$suite" "$variant" "$arch" | sha256sum | cut -c1-12)
  tarball=$cache/root-$suite-$variant-$key.tar
  mkdir -p "$cache/archives/partial"
  if [ ! -f "$tarball" ]; then
    mmdebstrap --quiet --format=tar --variant="$variant" "$suite" "$tarball.tmp"
    mv "$tarball.tmp" "$tarball"
  fi
  work=$(mktemp -d)
  root=$work/root
  mounted=""
  trap close_minimal_root EXIT
  trap 'exit 1' INT TERM  # so that the exit trap runs
  mkdir "$root"
  tar -C "$root" -xf "$tarball"
  cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
  mount -t proc proc "$root/proc" && mounted="/proc $mounted"
  mount --rbind /dev "$root/dev" && mounted="/dev $mounted"
  mount --bind "$cache/archives" "$root/var/cache/apt/archives" &&
    mounted="/var/cache/apt/archives $mounted"
  export DEBIAN_FRONTEND=noninteractive
}

close_minimal_root() {
  if [ -n "${on_exit:-}" ]; then $on_exit; fi
  for m in $mounted; do umount -l "$root$m" 2>/dev/null || true; done
  rm -rf "$work"
}

fail() { echo "$name: $*" >&2; exit 1; }
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
