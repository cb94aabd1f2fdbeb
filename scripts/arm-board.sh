#!/usr/bin/env bash
# Tests kestrel-snap on a real ARM Linux kernel under emulation (QEMU's
# system emulator, no KVM, 2 cores): Debian's kernel for the architecture,
# a small initramfs, the screens of two boards each:
#   armhf (qemu-system-arm, linux-image-armmp)
#     virt + virtio-gpu-device  fb-xrgb8888   32-bit XRGB through /dev/fb0
#                               drm-xrgb8888  the same screen through DRM alone
#     vexpress-a9 PL111         fb-rgb565     16-bit RGB565 through /dev/fb0
#   arm64 (qemu-system-aarch64 -cpu cortex-a53, linux-image-arm64)
#     virt + virtio-gpu-pci     fb-xrgb8888, drm-xrgb8888 as above, 640x480
#     virt + cirrus-vga         fb-rgb565     16-bit RGB565 through /dev/fb0
#                               fbdrm-rgb565  the same screen through DRM alone
# The guest draws a known pattern, QEMU's screendump shows what the board
# displays, and the host checks: the screen shows the pattern, the PNG
# decodes to the screen's pixels exactly, each JPEG is byte for byte what
# libjpeg makes of those pixels, a reference capture (fbcat, or the guest
# program's own DRM reader) holds the same levels, and the screen did not
# change while the captures ran.
#
# usage: scripts/arm-board.sh armhf|arm64 [--stand-in] [--keep] [--build DIR]
#   --stand-in  no kestrel-snap: the reference captures alone (proves the
#               boards and the checks)
#   --keep      keep each boot's working folder (serial log, files)
#   --build DIR the cross build to test (kestrel-snap, libKestrel.so and a
#               link "sysroot" to its sysroot); default build-ARCH, brought
#               up to date with scripts/cross.sh ARCH --build-only
# Works in build-board/ (the host's checker) and build-board/ARCH/;
# downloads (kernel, busybox, fbcat) are cached there under a key of the
# package list. Prints a PASS or FAIL line per check, the guest's capture
# times, and last "N passed, N failed"; exits 1 on any failure. See
# docs/arm-board.md.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$src/build-board

usage="usage: scripts/arm-board.sh armhf|arm64 [--stand-in] [--keep] [--build DIR]"
arch=${1:-}
# The names of the architecture: its GNU triplet, dynamic loader, system
# emulator and Debian's kernel meta package.
case "$arch" in
  armhf)
    triplet=arm-linux-gnueabihf loader=ld-linux-armhf.so.3
    qemu_system=qemu-system-arm kernel_package=linux-image-armmp
    ;;
  arm64)
    triplet=aarch64-linux-gnu loader=ld-linux-aarch64.so.1
    qemu_system=qemu-system-aarch64 kernel_package=linux-image-arm64
    ;;
  *)
    echo "$usage" >&2
    exit 2
    ;;
esac
shift
work=$build/$arch

stand_in=0
keep=0
cross=
while [ $# -gt 0 ]; do
  case "$1" in
    --stand-in) stand_in=1 ;;
    --keep) keep=1 ;;
    --build)
      cross=$(realpath "${2:?--build needs a folder}")
      shift
      ;;
    *)
      echo "$usage" >&2
      exit 2
      ;;
  esac
  shift
done

# qemu-system-arm holds both system emulators.
scripts/deps.sh qemu-system-arm "crossbuild-essential-$arch" kmod device-tree-compiler cpio
mkdir -p "$work"
export QEMU_AUDIO_DRV=none # vexpress has a sound chip; no host audio wanted
# shellcheck source=tests/board/host_lib.sh
. "$src/tests/board/host_lib.sh"

fetch_guest "$work" "$arch" "$kernel_package"
kver=$(ls "$guest/root/lib/modules")
kernel=$guest/root/boot/vmlinuz-$kver

# --- programs for the guest -------------------------------------------------
bin=$work/guest-bin
mkdir -p "$bin"
for p in board_draw board_time; do
  "$triplet-gcc" -O2 -Wall -Wextra -static -I"$src/tests/board" \
    -o "$bin/${p/_/-}" "$src/tests/board/$p.c"
done

snap=
if [ "$stand_in" = 0 ] && [ -z "$cross" ]; then
  # Brought up to date every time, so that a stale build is never tested.
  cross=$src/build-$arch
  scripts/cross.sh "$arch" --build-only >"$work/cross-build.log" 2>&1 || {
    tail -20 "$work/cross-build.log"
    echo "arm-board: the $arch build failed" >&2
    exit 1
  }
fi
if [ "$stand_in" = 0 ]; then snap=$cross/kestrel-snap; fi

# --- the host's checker, one for every architecture -------------------------
check=$build/board-check
check_sources=("$src/tests/board/board_check.cpp" "$src/tests/board/board_image.cpp"
  "$src/tests/support/images.cpp" "$src/tests/support/test_support.cpp")
if [ -n "$(find "${check_sources[@]}" "$src"/tests/board/*.h "$src"/tests/support/*.h \
  -newer "$check" 2>/dev/null)" ] || [ ! -x "$check" ]; then
  c++ -O2 -std=c++17 -Wall -Wextra -I"$src/tests/support" -I"$src/tests/board" \
    -o "$check" "${check_sources[@]}" -ljpeg -lpng -lz
fi

# --- the boots ----------------------------------------------------------------
base=$work/initramfs-base
make_base "$base" "$guest/root" "$bin" "$snap" "$cross/sysroot"

runs=${KESTREL_BOARD_RUNS:-5}
common=(-smp 2 -m 512 -nic none -kernel "$kernel" -display none -no-reboot)
append="console=ttyAMA0 rdinit=/init quiet vt.global_cursor_default=0"

if [ "$arch" = armhf ]; then
  dtb=$work/vexpress-ca9-panel.dtb
  vexpress_dtb "$guest/root/usr/lib/linux-image-$kver/vexpress-v2p-ca9.dtb" "$dtb"
  boot_board virt "$runs" "" "virtio_mmio virtio_gpu" "fb-xrgb8888 drm-xrgb8888" \
    -M virt -global virtio-mmio.force-legacy=false \
    -device virtio-gpu-device,xres=1024,yres=600 "${common[@]}" -append "$append"
  boot_board vexpress "$runs" "" "" "fb-rgb565" \
    -M vexpress-a9 -dtb "$dtb" "${common[@]}" -append "$append"
  boards=(virt vexpress)
else
  common+=(-M virt -cpu cortex-a53)
  boot_board virt "$runs" "" "virtio_pci virtio_gpu" "fb-xrgb8888 drm-xrgb8888" \
    -device virtio-gpu-pci,xres=640,yres=480 "${common[@]}" -append "$append"
  # virtio-gpu, bochs and VGA refuse 16 bits per pixel; the cirrus DRM
  # driver takes them from the mode named on the command line.
  boot_board cirrus "$runs" "vga-colour" "cirrus" "fb-rgb565 fbdrm-rgb565" \
    -device cirrus-vga,romfile= "${common[@]}" -append "$append video=640x480-16"
  boards=(virt cirrus)
fi

# --- the checks ---------------------------------------------------------------
check_case virt fb-xrgb8888 888
check_case virt drm-xrgb8888 888
check_case "${boards[1]}" fb-rgb565 565
[ "$arch" = arm64 ] && check_case cirrus fbdrm-rgb565 565

print_times
if [ "$keep" = 0 ]; then
  for b in "${boards[@]}"; do rm -rf "$work/boot-$b"; done
fi
echo "$arch: $passed passed, $failed failed"
[ "$failed" = 0 ]
