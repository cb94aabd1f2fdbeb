#!/usr/bin/env bash
# Makes (once) the sysroot of Debian architecture ARCH (armhf, arm64) that
# the cross build links against and the user-mode emulator runs in, and
# prints its path: BUILD_DIR/sysroot-KEY, KEY a hash of the architecture and
# the package list below. Nothing is installed on the host: the packages are
# fetched with a private apt state (BUILD_DIR/apt) that lists ARCH beside
# the host's architecture, and unpacked with dpkg -x.
# usage: cross-sysroot.sh ARCH BUILD_DIR [EXTRA_PACKAGE...]
set -euo pipefail

usage="usage: cross-sysroot.sh ARCH BUILD_DIR [PACKAGE...]"
arch=${1:?$usage}
build=$(realpath -m "${2:?$usage}")
shift 2

packages=(
  libc6 libgcc-s1 libstdc++6
  libjpeg62-turbo libjpeg62-turbo-dev
  libpng16-16 libpng-dev zlib1g zlib1g-dev
  libxcb1 libxcb1-dev libxcb-shm0 libxcb-shm0-dev libxcb-randr0 libxcb-randr0-dev
  libxcb-render0 libxcb-render0-dev
  libxau6 libxau-dev libxdmcp6 libxdmcp-dev libbsd0 libmd0
  libpthread-stubs0-dev x11proto-dev
  libgtest-dev libgmock-dev
  libdrm2 libdrm-dev
  "$@"
)

key=$(printf '%s\n' "$arch" "${packages[@]}" | sort -u | sha256sum | cut -c1-12)
sysroot="$build/sysroot-$key"
if [ -f "$sysroot/.complete" ] && [ -f "$sysroot/var/lib/dpkg/status" ]; then
  echo "$sysroot"
  exit 0
fi

apt_dir="$build/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$build/debs-$key"
apt_opts=(
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "APT::Architectures::=$(dpkg --print-architecture)"
  -o "APT::Architectures::=$arch"
  -o "APT::Sandbox::User=root"
  -qq
)
lists=("$apt_dir"/lists/*_binary-"${arch}"_Packages*)
if [ ! -e "${lists[0]}" ]; then
  # A mirror caught mid-sync makes update fail for one index while the
  # others (and the downloads) are fine; the download below is the check.
  apt-get "${apt_opts[@]}" update >&2 || echo "cross-sysroot: apt-get update reported errors; trying the download" >&2
fi

# Headers-only packages are built for all architectures at once.
names=()
for p in "${packages[@]}"; do
  case "$p" in
    x11proto-dev) names+=("$p") ;;
    *) names+=("$p:$arch") ;;
  esac
done
(cd "$build/debs-$key" && apt-get "${apt_opts[@]}" download "${names[@]}" >&2)

rm -rf "$sysroot.tmp"
mkdir -p "$sysroot.tmp"
for deb in "$build/debs-$key"/*.deb; do
  dpkg -x "$deb" "$sysroot.tmp"
done

# The -dev packages link libfoo.so to absolute paths (/lib/...): point them
# into the sysroot, or the linker falls back to the static archive.
find "$sysroot.tmp" -type l | while read -r link; do
  target=$(readlink "$link")
  case "$target" in
    /*) ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$sysroot.tmp$target")" "$link" ;;
  esac
done

# For dpkg-shlibdeps: which package holds each library (scripts/package.sh).
"$(dirname "$0")/sysroot-dpkg-db.sh" "$sysroot.tmp" "$sysroot" "$build/debs-$key"
rm -rf "$sysroot" "$build/debs-$key"
mv "$sysroot.tmp" "$sysroot"
touch "$sysroot/.complete"
echo "$sysroot"
