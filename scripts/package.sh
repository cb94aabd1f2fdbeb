#!/usr/bin/env bash
# Builds the Debian packages libkestrel0, libkestrel-dev and kestrel-snap
# from debian/ with debhelper, checks each with lintian --pedantic (an
# error or a warning fails), and leaves them in dist/.
#   scripts/package.sh          for this machine's architecture
#   scripts/package.sh armhf    cross-built against the sysroot that
#   scripts/package.sh arm64    scripts/cross-sysroot.sh makes
# The build runs on a copy of the source in build-package-ARCH/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
host=$(dpkg --print-architecture)
arch=${1:-$host}

deps=(debhelper dpkg-dev lintian fakeroot)
if [ "$arch" != "$host" ]; then
  case "$arch" in
    armhf | arm64) ;;
    *) echo "package.sh: no cross build for $arch (have: armhf arm64)" >&2; exit 2 ;;
  esac
  deps+=("crossbuild-essential-$arch" qemu-user)
fi
scripts/deps.sh --build "${deps[@]}"

# The one version: CMakeLists.txt's, which debian/changelog must carry.
version=$(sed -n 's/^project(Kestrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
changelog=$(dpkg-parsechangelog -S Version)
[ "$version" = "$changelog" ] || {
  echo "package.sh: CMakeLists.txt says $version, debian/changelog $changelog" >&2
  exit 1
}

work=$root/build-package-$arch
rm -rf "$work"
mkdir -p "$work/src" "$root/dist"
tar -C "$root" --exclude='./build*' --exclude=./dist --exclude=./out \
  --exclude=./.git -cf - . | tar -C "$work/src" -xf -

env=()
opts=(-b -us -uc)
if [ "$arch" != "$host" ]; then
  sysroot=$(scripts/cross-sysroot.sh "$arch" "build-$arch")
  env=(KESTREL_CROSS_CMAKE="-DCMAKE_TOOLCHAIN_FILE=$root/cmake/cross-toolchain.cmake -DKESTREL_CROSS_ARCH=$arch -DKESTREL_CROSS_SYSROOT=$sysroot"
       KESTREL_SYSROOT="$sysroot" DEB_BUILD_OPTIONS=nocheck)
  # The foreign libraries are in the sysroot, not installed: the build
  # dependencies cannot be checked by dpkg. The boards have no desktop.
  opts+=(-a "$arch" -d -P"cross,nocheck,pkg.kestrel.nowayland")
fi
(cd "$work/src" && env "${env[@]}" dpkg-buildpackage "${opts[@]}") >"$work/build.log" 2>&1 || {
  tail -40 "$work/build.log" >&2
  echo "package.sh: dpkg-buildpackage failed; the whole log is $work/build.log" >&2
  exit 1
}

status=0
for p in libkestrel0 libkestrel-dev kestrel-snap; do
  deb=$(ls "$work/${p}_${version}_$arch.deb")
  cp "$deb" "$root/dist/"
  echo "== lintian --pedantic $(basename "$deb")"
  lintian --pedantic --display-info "$deb" | tee "$work/lintian-$p.txt"
  if grep -q '^[EW]: ' "$work/lintian-$p.txt"; then status=1; fi
done
[ "$status" -eq 0 ] || { echo "package.sh: lintian reported errors or warnings" >&2; exit 1; }
echo "package.sh: dist/{libkestrel0,libkestrel-dev,kestrel-snap}_${version}_$arch.deb"
