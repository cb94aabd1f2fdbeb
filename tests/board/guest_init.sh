#!/bin/busybox sh
# shellcheck shell=dash
# First process of a board test guest. Runs the cases named in
# /board/cases, talking to the host on the serial console: "BOARD shot NAME"
# asks for QEMU's picture of the screen and waits for "ok"; files travel as
# base64 between "BOARD file NAME" and "BOARD endfile NAME". Every wait is
# bounded; the guest powers off at the end whatever happened.
/bin/busybox --install -s /bin
export PATH=/bin LD_LIBRARY_PATH=/lib
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
echo 1 >/proc/sys/kernel/printk # no kernel lines inside a file's text

say() { echo "BOARD $*"; }
runs=$(cat /board/runs)

# A PC's BIOS leaves a VGA card in colour addressing (its CRT controller at
# 0x3d4); with no BIOS, as on ARM, the card starts in monochrome addressing
# and ignores the driver's mode until the colour bit of its miscellaneous
# output register is set. The register is reached through the card's
# second memory BAR (VGA ports 0x3c0.. at offset 0: write 0x3c2, read 0x3cc).
vga_colour() {
  for d in /sys/bus/pci/devices/*; do
    [ "$(cat "$d/class")" = 0x030000 ] || continue
    echo 1 >"$d/enable"
    mmio=$(sed -n 2p "$d/resource" | cut -d' ' -f1)
    if [ "$((mmio))" = 0 ]; then
      say "error vga-colour: no register BAR on $d"
      continue
    fi
    misc=$(devmem $((mmio + 0x0c)) 8)
    devmem $((mmio + 0x02)) 8 $((misc | 1))
  done
}

for s in $(cat /board/setup); do
  case "$s" in
    vga-colour) vga_colour ;;
    *) say "error unknown setup step $s" ;;
  esac
done

for m in $(cat /board/modules); do
  insmod "/board/mod/$m" || say "error loading $m"
done

wait_for() {
  i=0
  while [ ! -e "$1" ] && [ $i -lt 200 ]; do
    usleep 100000
    i=$((i + 1))
  done
  [ -e "$1" ]
}

# The console's text and cursor would draw over the pattern.
for b in /sys/class/vtconsole/vtcon*/bind; do echo 0 >"$b"; done

ask() {
  say "shot $1"
  reply=
  # shellcheck disable=SC3045 # busybox's sh has read -t
  read -r -t 60 reply
  [ "$reply" = ok ] || say "error $1: no screen picture from the host"
}

send() {
  say "file $1"
  base64 "$2"
  say "endfile $1"
}

# timed NAME [-o FILE] PROGRAM ARGS: the runs of a capture, timed.
timed() {
  name=$1
  shift
  if t=$(board-time "$runs" "$@"); then
    say "time $name $t"
  else
    say "error $name: $t"
  fi
}

hide() {
  mkdir -p /aside
  [ -e "$1" ] && mv "$1" /aside/
}
unhide() { [ -e "/aside/$(basename "$1")" ] && mv "/aside/$(basename "$1")" "$1"; }

capture() {
  if [ -x /bin/kestrel-snap ]; then
    timed "$1 kestrel-snap png" kestrel-snap "/tmp/$1.png"
    timed "$1 kestrel-snap jpeg-q90" kestrel-snap "/tmp/$1-q90.jpg"
    timed "$1 kestrel-snap jpeg-q40" kestrel-snap -q 40 "/tmp/$1-q40.jpg"
    for f in "$1.png" "$1-q90.jpg" "$1-q40.jpg"; do
      [ -f "/tmp/$f" ] && send "$f" "/tmp/$f"
    done
  fi
  # A reference capture by other means: fbcat, or our own DRM reader.
  if [ "$2" = fb ]; then
    timed "$1 fbcat ppm" -o "/tmp/$1-ref.ppm" fbcat
  else
    timed "$1 drm-read ppm" -o "/tmp/$1-ref.ppm" board-draw drm-read /dev/dri/card0
  fi
  gzip "/tmp/$1-ref.ppm" && send "$1-ref.ppm.gz" "/tmp/$1-ref.ppm.gz"
  rm -f /tmp/"$1"*
}

# fb-NAME: the framebuffer alone (the DRM device moved aside, so that the
# library cannot take the screen through it).
case_fb() {
  if ! wait_for /dev/fb0; then
    say "error $1: no /dev/fb0"
    return
  fi
  hide /dev/dri/card0
  if s=$(board-draw fb /dev/fb0); then
    say "screen $1 $s"
    ask "$1"
    capture "$1" fb
    ask "$1-after"
  else
    say "error $1: cannot draw"
  fi
  unhide /dev/dri/card0
}

# drm-NAME: DRM alone (the framebuffer device moved aside). A child of
# board-draw holds the picture; it goes when that child ends.
case_drm() {
  if ! wait_for /dev/dri/card0; then
    say "error $1: no /dev/dri/card0"
    return
  fi
  hide /dev/fb0
  if s=$(board-draw drm /dev/dri/card0 120); then
    say "screen $1 $s"
    ask "$1"
    capture "$1" drm
    ask "$1-after"
    killall board-draw
  else
    say "error $1: cannot draw"
  fi
  unhide /dev/fb0
}

# fbdrm-NAME: the picture drawn through the framebuffer, taken through DRM
# alone (the framebuffer device moved aside): the CRTC then shows the
# kernel's framebuffer emulation's buffer.
case_fbdrm() {
  if ! wait_for /dev/fb0 || ! wait_for /dev/dri/card0; then
    say "error $1: no /dev/fb0 or /dev/dri/card0"
    return
  fi
  if s=$(board-draw fb /dev/fb0); then
    hide /dev/fb0
    say "screen $1 $s"
    ask "$1"
    capture "$1" drm
    ask "$1-after"
    unhide /dev/fb0
  else
    say "error $1: cannot draw"
  fi
}

say "up $(cut -d' ' -f1 /proc/uptime)"
for c in $(cat /board/cases); do
  case "$c" in
    fb-*) case_fb "$c" ;;
    drm-*) case_drm "$c" ;;
    fbdrm-*) case_fbdrm "$c" ;;
    *) say "error unknown case $c" ;;
  esac
done
say "end $(cut -d' ' -f1 /proc/uptime)"
poweroff -f
