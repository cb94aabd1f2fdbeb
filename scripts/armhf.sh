#!/usr/bin/env bash
# Cross-builds Kestrel for 32-bit ARM (Debian armhf) and runs the whole
# suite under qemu-arm, with X server tests on a native Xvfb.
#   scripts/armhf.sh               build-armhf/: build, suite, .deb checked
#   scripts/armhf.sh --sanitize    build-armhf-sanitize/: the suite under
#                                  AddressSanitizer and UBSan (no leak
#                                  checks: they do not work under qemu-arm)
#   scripts/armhf.sh --build-only  build-armhf/: build and .deb, no tests
# What it leaves, for other scripts to use:
#   build-armhf/sysroot            link to the sysroot (build-armhf/sysroot-KEY)
#   build-armhf/kestrel-snap, build-armhf/libKestrel.so*
#   build-armhf/packages/kestrel_VERSION_armhf.deb
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
  libubsan1-armhf-cross dpkg-dev
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

cmake -S . -B "$build" -G Ninja "${flags[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/armhf-toolchain.cmake" \
  -DKESTREL_ARMHF_SYSROOT="$sysroot" >/dev/null
cmake --build "$build" -j2

if [ "$mode" != "--sanitize" ]; then
  (cd "$build" && cpack -G DEB >/dev/null)
  deb=$(ls "$build"/packages/kestrel_*_armhf.deb)
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb"
  dpkg-deb --field "$deb" Architecture | grep -qx armhf
  for f in ./usr/bin/kestrel-snap ./usr/include/kestrel/kestrel.h \
           ./usr/lib/pkgconfig/kestrel.pc ./usr/lib/cmake/Kestrel/KestrelConfig.cmake; do
    dpkg-deb --contents "$deb" | grep -q " $f\$" || { echo "armhf.sh: $f missing from $deb" >&2; exit 1; }
  done
  dpkg-deb --contents "$deb" | grep -q ' ./usr/lib/libKestrel.so.0 -> ' ||
    { echo "armhf.sh: no SONAME link in $deb" >&2; exit 1; }
  echo "armhf.sh: $deb"
fi

[ "$mode" = "--build-only" ] && exit 0
cd "$build"
ctest --output-on-failure --timeout 600 -j2 -LE soak
