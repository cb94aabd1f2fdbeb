#!/usr/bin/env bash
# Cross-builds Kestrel for an ARM architecture of Debian and runs the whole
# suite under the user-mode emulator, with X server tests on a native Xvfb:
#   armhf  32-bit ARM with hardware floating point, under qemu-arm
#   arm64  AArch64, under qemu-aarch64
#   scripts/cross.sh ARCH               build-ARCH/: build, suite, packages
#   scripts/cross.sh ARCH --sanitize    build-ARCH-sanitize/: the suite under
#                                       AddressSanitizer and UBSan (no leak
#                                       checks: they do not work under qemu)
#   scripts/cross.sh ARCH --build-only  build-ARCH/: build and packages, no tests
# What it leaves, for other scripts to use:
#   build-ARCH/sysroot            link to the sysroot (build-ARCH/sysroot-KEY)
#   build-ARCH/kestrel-snap, build-ARCH/libKestrel.so*
#   dist/{libkestrel0,libkestrel-dev,kestrel-snap}_VERSION_ARCH.deb
# Run an ARM program by hand with: qemu-arm (qemu-aarch64) -L build-ARCH/sysroot PROGRAM
set -euo pipefail
cd "$(dirname "$0")/.."

usage="usage: scripts/cross.sh armhf|arm64 [--sanitize | --build-only]"
arch=${1:-}
mode=${2:-}
# triplet: the GNU name of the architecture; machine: its ELF e_machine.
case "$arch" in
  armhf) triplet=arm-linux-gnueabihf machine=40 ;;
  arm64) triplet=aarch64-linux-gnu machine=183 ;;
  *)
    echo "$usage" >&2
    exit 2
    ;;
esac
build=build-$arch
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$mode" in
  "" | --build-only) ;;
  --sanitize)
    build=build-$arch-sanitize
    flags=(-DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON)
    ;;
  *)
    echo "$usage" >&2
    exit 2
    ;;
esac

scripts/deps.sh "crossbuild-essential-$arch" qemu-user "libasan8-$arch-cross" \
  "libubsan1-$arch-cross"
mkdir -p "$build"
sysroot=$(scripts/cross-sysroot.sh "$arch" "$build")
ln -sfn "$(basename "$sysroot")" "$build/sysroot"

if [ "$mode" = "--sanitize" ]; then
  # The instrumented programs load the sanitizer runtimes from the sysroot.
  cp -a "/usr/$triplet"/lib/libasan.so.* "/usr/$triplet"/lib/libubsan.so.* \
    "$sysroot/usr/lib/$triplet/"
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

# The boards this build is for have no desktop: the framebuffer, DRM and X
# screens are built, the Wayland one (and its sysroot packages) is not.
cmake -S . -B "$build" -G Ninja "${flags[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/cross-toolchain.cmake" \
  -DKESTREL_CROSS_ARCH="$arch" -DKESTREL_CROSS_SYSROOT="$sysroot" \
  -DKESTREL_WITH_WAYLAND=OFF >/dev/null
cmake --build "$build" -j2

if [ "$mode" != "--sanitize" ]; then
  # The Debian packages (debian/, scripts/package.sh), whose binaries are
  # built for the architecture (its ELF machine number).
  scripts/package.sh "$arch"
  version=$(dpkg-parsechangelog -S Version)
  rm -rf "$build/deb-check"
  for p in libkestrel0 kestrel-snap; do
    dpkg-deb -x "dist/${p}_${version}_$arch.deb" "$build/deb-check"
  done
  for f in usr/bin/kestrel-snap "usr/lib/$triplet/libKestrel.so.$version"; do
    [ "$(od -An -tu2 -j18 -N2 "$build/deb-check/$f" | tr -d ' ')" = "$machine" ] ||
      { echo "cross.sh: $f is not an $arch object" >&2; exit 1; }
  done
fi

if [ "$mode" = "--build-only" ]; then
  echo "cross.sh: build $PWD/$build, sysroot $PWD/$build/sysroot -> $(basename "$sysroot")"
  exit 0
fi
cd "$build"
ctest --output-on-failure --timeout 600 -j2 -LE soak
