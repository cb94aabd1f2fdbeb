#!/usr/bin/env bash
# Tests kestrel-snap on a real 32-bit ARM Linux kernel under emulation
# (qemu-system-arm, no KVM, 2 cores): Debian's armhf kernel, a small
# initramfs, the screens of two boards:
#   virt + virtio-gpu   fb-xrgb8888   32-bit XRGB through /dev/fb0
#                       drm-xrgb8888  the same screen through DRM alone
#   vexpress-a9 PL111   fb-rgb565     16-bit RGB565 through /dev/fb0
# The guest draws a known pattern, QEMU's screendump shows what the board
# displays, and the host checks: the screen shows the pattern, the PNG
# decodes to the screen's pixels exactly, each JPEG is byte for byte what
# libjpeg makes of those pixels, a reference capture (fbcat, or the guest
# program's own DRM reader) holds the same levels, and the screen did not
# change while the captures ran.
#
# usage: scripts/arm-board.sh [--stand-in] [--keep] [--armhf DIR]
#   --stand-in  no kestrel-snap: the reference captures alone (proves the
#               boards and the checks)
#   --keep      keep each boot's working folder (serial log, files)
#   --armhf DIR the armhf build to test (kestrel-snap, libKestrel.so and a
#               link "sysroot" to its sysroot); default build-armhf,
#               brought up to date with scripts/armhf.sh --build-only
# Works in build-board/; downloads (kernel, busybox, fbcat) are cached there
# under a key of the package list. Prints a PASS or FAIL line per check, the
# guest's capture times, and last "N passed, N failed"; exits 1 on any
# failure. See docs/arm-board.md.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$src/build-board

stand_in=0
keep=0
armhf=
while [ $# -gt 0 ]; do
  case "$1" in
    --stand-in) stand_in=1 ;;
    --keep) keep=1 ;;
    --armhf)
      armhf=$(realpath "${2:?--armhf needs a folder}")
      shift
      ;;
    *)
      echo "usage: scripts/arm-board.sh [--stand-in] [--keep] [--armhf DIR]" >&2
      exit 2
      ;;
  esac
  shift
done

scripts/deps.sh qemu-system-arm crossbuild-essential-armhf kmod device-tree-compiler cpio
mkdir -p "$build"
export QEMU_AUDIO_DRV=none # vexpress has a sound chip; no host audio wanted
# shellcheck source=tests/board/host_lib.sh
. "$src/tests/board/host_lib.sh"

fetch_guest "$build"
kver=$(ls "$guest/root/lib/modules")
kernel=$guest/root/boot/vmlinuz-$kver

# --- programs for the guest -------------------------------------------------
bin=$build/guest-bin
mkdir -p "$bin"
for p in board_draw board_time; do
  arm-linux-gnueabihf-gcc -O2 -Wall -Wextra -static -I"$src/tests/board" \
    -o "$bin/${p/_/-}" "$src/tests/board/$p.c"
done

snap=
if [ "$stand_in" = 0 ] && [ -z "$armhf" ]; then
  # Brought up to date every time, so that a stale build is never tested.
  armhf=$src/build-armhf
  scripts/armhf.sh --build-only >"$build/armhf-build.log" 2>&1 || {
    tail -20 "$build/armhf-build.log"
    echo "arm-board: the armhf build failed" >&2
    exit 1
  }
fi
if [ "$stand_in" = 0 ]; then snap=$armhf/kestrel-snap; fi

# --- the host's checker -----------------------------------------------------
check=$build/board-check
c++ -O2 -std=c++17 -Wall -Wextra -I"$src/tests/support" -I"$src/tests/board" \
  -o "$check" "$src/tests/board/board_check.cpp" "$src/tests/board/board_image.cpp" \
  "$src/tests/support/images.cpp" "$src/tests/support/test_support.cpp" -ljpeg -lpng -lz

# --- the boots ----------------------------------------------------------------
base=$build/initramfs-base
make_base "$base" "$guest/root" "$bin" "$snap" "$armhf/sysroot"

dtb=$build/vexpress-ca9-panel.dtb
vexpress_dtb "$guest/root/usr/lib/linux-image-$kver/vexpress-v2p-ca9.dtb" "$dtb"

runs=${KESTREL_BOARD_RUNS:-5}
common=(-smp 2 -m 512 -nic none -kernel "$kernel" -display none -no-reboot)
append="console=ttyAMA0 rdinit=/init quiet vt.global_cursor_default=0"

boot_board virt "$runs" "virtio_mmio virtio_gpu" "fb-xrgb8888 drm-xrgb8888" \
  -M virt -global virtio-mmio.force-legacy=false \
  -device virtio-gpu-device,xres=1024,yres=600 "${common[@]}" -append "$append"
boot_board vexpress "$runs" "" "fb-rgb565" \
  -M vexpress-a9 -dtb "$dtb" "${common[@]}" -append "$append"

# --- the checks ---------------------------------------------------------------
check_case virt fb-xrgb8888 888
check_case virt drm-xrgb8888 888
check_case vexpress fb-rgb565 565

print_times
[ "$keep" = 1 ] || rm -rf "$build/boot-virt" "$build/boot-vexpress"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
