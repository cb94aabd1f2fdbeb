#!/usr/bin/env bash
# Cross-builds Kestrel for 32-bit ARM (Debian armhf) and runs the whole
# suite under qemu-arm, with X server tests on a native Xvfb.
#   scripts/armhf.sh               build-armhf/: build, suite, packages checked
#   scripts/armhf.sh --sanitize    build-armhf-sanitize/: the suite under
#                                  AddressSanitizer and UBSan (no leak
#                                  checks: they do not work under qemu-arm)
#   scripts/armhf.sh --build-only  build-armhf/: build and packages, no tests
# What it leaves, for other scripts to use:
#   build-armhf/sysroot            link to the sysroot (build-armhf/sysroot-KEY)
#   build-armhf/kestrel-snap, build-armhf/libKestrel.so*
#   dist/{libkestrel0,libkestrel-dev,kestrel-snap}_VERSION_armhf.deb
# Run an ARM program by hand with: qemu-arm -L build-armhf/sysroot PROGRAM
set -euo pipefail
cd "$(dirname "$0")/.."

mode="${1:-}"
build=build-armhf
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$mode" in
  "" | --build-only) ;;
  --sanitize)
    build=build-armhf-sanitize
    flags=(-DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON)
    ;;
  *)
    echo "usage: scripts/armhf.sh [--sanitize | --build-only]" >&2
    exit 2
    ;;
esac

scripts/deps.sh crossbuild-essential-armhf qemu-user libasan8-armhf-cross \
  libubsan1-armhf-cross
mkdir -p "$build"
sysroot=$(scripts/armhf-sysroot.sh "$build")
ln -sfn "$(basename "$sysroot")" "$build/sysroot"

if [ "$mode" = "--sanitize" ]; then
  # The instrumented programs load the sanitizer runtimes from the sysroot.
  cp -a /usr/arm-linux-gnueabihf/lib/libasan.so.* \
    /usr/arm-linux-gnueabihf/lib/libubsan.so.* \
    "$sysroot/usr/lib/arm-linux-gnueabihf/"
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

# The boards this build is for have no desktop: the framebuffer, DRM and X
# screens are built, the Wayland one (and its sysroot packages) is not.
cmake -S . -B "$build" -G Ninja "${flags[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/armhf-toolchain.cmake" \
  -DKESTREL_ARMHF_SYSROOT="$sysroot" -DKESTREL_WITH_WAYLAND=OFF >/dev/null
cmake --build "$build" -j2

if [ "$mode" != "--sanitize" ]; then
  # The Debian packages (debian/, scripts/package.sh), whose binaries are
  # built for ARM (ELF machine 40).
  scripts/package.sh armhf
  version=$(dpkg-parsechangelog -S Version)
  rm -rf "$build/deb-check"
  for p in libkestrel0 kestrel-snap; do
    dpkg-deb -x "dist/${p}_${version}_armhf.deb" "$build/deb-check"
  done
  for f in usr/bin/kestrel-snap "usr/lib/arm-linux-gnueabihf/libKestrel.so.$version"; do
    [ "$(od -An -tu2 -j18 -N2 "$build/deb-check/$f" | tr -d ' ')" = 40 ] ||
      { echo "armhf.sh: $f is not an ARM object" >&2; exit 1; }
  done
fi

if [ "$mode" = "--build-only" ]; then
  echo "armhf.sh: build $PWD/$build, sysroot $PWD/$build/sysroot -> $(basename "$sysroot")"
  exit 0
fi
cd "$build"
ctest --output-on-failure --timeout 600 -j2 -LE soak
