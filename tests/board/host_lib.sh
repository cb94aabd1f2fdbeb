# shellcheck shell=bash
# Host side of the board tests, sourced by scripts/arm-board.sh: fetching
# the guest's packages, making initramfs images, booting a board under
# QEMU and talking to its guest, and checking what came back. Uses the
# caller's src, work (the architecture's folder), guest, kver, base, check,
# snap, runs and the architecture's names (triplet, loader, qemu_system),
# and sets its keep when a check fails.
# shellcheck disable=SC2154,SC2034

passed=0
failed=0
pass() {
  echo "PASS $*"
  passed=$((passed + 1))
}
fail() {
  echo "FAIL $*"
  failed=$((failed + 1))
}

# Debian's kernel (the meta package KERNEL names the one of the current
# ABI), busybox and fbcat for ARCH, unpacked into DIR/guest-KEY/root (KEY: a
# hash of the package list), with a private apt state so that the host
# needs no second architecture. Sets guest to the folder.
fetch_guest() {
  local build=$1 arch=$2 kernel=$3
  local packages=("$kernel" busybox-static fbcat)
  local suite="http://deb.debian.org/debian bookworm main"
  local key
  key=$(printf '%s\n' "$suite" "$arch" "${packages[@]}" | sha256sum | cut -c1-12)
  guest=$build/guest-$key
  local dir=$guest
  [ -f "$dir/.complete" ] && return
  local apt=$build/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
  echo "deb [arch=$arch signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $suite" \
    >"$apt/sources.list"
  local opts=(
    -o "APT::Architecture=$arch" -o "APT::Architectures::=$arch"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
    -o Dir::State::status=/dev/null -o "Dir::Etc::SourceList=$apt/sources.list"
    -o Dir::Etc::SourceParts=/nonexistent -o APT::Sandbox::User=root
    -o Debug::NoLocking=1 -qq
  )
  # A mirror caught mid-sync fails one index and not the others; the
  # download below is the check.
  apt-get "${opts[@]}" update >&2 || echo "arm-board: apt-get update reported errors" >&2
  # The meta package names the kernel of the current ABI.
  local image
  image=$(apt-cache "${opts[@]}" depends "$kernel" |
    awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  [ -n "$image" ] || {
    echo "arm-board: no $arch kernel package found" >&2
    return 1
  }
  rm -rf "$dir.tmp"
  mkdir -p "$dir.tmp/debs"
  (cd "$dir.tmp/debs" && apt-get "${opts[@]}" download "$image" busybox-static fbcat >&2)
  for deb in "$dir.tmp"/debs/*.deb; do dpkg -x "$deb" "$dir.tmp/root"; done
  # The package ships no module index.
  depmod -b "$dir.tmp/root" "$(ls "$dir.tmp/root/lib/modules")"
  rm -rf "$dir"
  mv "$dir.tmp" "$dir"
  touch "$dir/.complete"
}

# Copies into DEST/lib every shared library that the guest's programs given
# need, found by their DT_NEEDED entries in the folders of SEARCH (a
# colon-separated list), together with the dynamic loader.
copy_libs() {
  local dest=$1 search=$2
  shift 2
  local todo=("$@") done_list=" " f lib dir found
  while [ ${#todo[@]} -gt 0 ]; do
    f=${todo[0]}
    todo=("${todo[@]:1}")
    for lib in $("$triplet-readelf" -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
      case "$done_list" in *" $lib "*) continue ;; esac
      done_list="$done_list$lib "
      found=
      IFS=: read -ra dirs <<<"$search"
      for dir in "${dirs[@]}"; do
        if [ -e "$dir/$lib" ]; then
          found=$dir/$lib
          break
        fi
      done
      [ -n "$found" ] || {
        echo "arm-board: $lib (needed by $f) not found" >&2
        return 1
      }
      cp -L "$found" "$dest/lib/$lib"
      todo+=("$dest/lib/$lib")
    done
  done
  cp -L "${search%%:*}/$loader" "$dest/lib/" 2>/dev/null ||
    cp -L "/usr/$triplet/lib/$loader" "$dest/lib/"
}

# The part of the initramfs every boot shares: busybox, the guest programs,
# fbcat, kestrel-snap (when given) with its libraries, the init script.
# Written as DEST.cpio.gz.
make_base() {
  local dest=$1 root=$2 bin=$3 snap=$4 sysroot=$5
  rm -rf "$dest"
  mkdir -p "$dest"/{bin,lib,dev,proc,sys,tmp,board}
  cp "$root/bin/busybox" "$bin/board-draw" "$bin/board-time" "$root/usr/bin/fbcat" "$dest/bin/"
  cp "$src/tests/board/guest_init.sh" "$dest/init"
  chmod +x "$dest/init"
  local search=/usr/$triplet/lib
  local programs=("$dest/bin/fbcat")
  if [ -n "$snap" ]; then
    search=$sysroot/lib/$triplet:$sysroot/usr/lib/$triplet:$(dirname "$snap"):$search
    cp "$snap" "$dest/bin/kestrel-snap"
    programs+=("$dest/bin/kestrel-snap")
  fi
  copy_libs "$dest" "$search" "${programs[@]}"
  (cd "$dest" && find . | cpio -o -H newc --quiet) | gzip -1 >"$dest.cpio.gz"
}

# The vexpress device tree with a plain 800x600 panel where the DVI
# transmitter was (the kernel's framebuffer driver for the PL111 takes only
# a panel) and the motherboard's second display controller off, so that
# QEMU's first screen is the one the kernel drives.
vexpress_dtb() {
  local in=$1 out=$2
  local mb=/bus@40000000/motherboard-bus@40000000/iofpga@7,00000000
  local dvi=$mb/i2c@16000/dvi-transmitter@39
  cp "$in" "$out"
  fdtput -t s "$out" "$dvi" compatible panel-dpi
  fdtput -c "$out" "$dvi/panel-timing"
  local kv
  for kv in clock-frequency:40000000 hactive:800 vactive:600 hfront-porch:40 \
    hback-porch:88 hsync-len:128 vfront-porch:1 vback-porch:23 vsync-len:4; do
    fdtput -t u "$out" "$dvi/panel-timing" "${kv%%:*}" "${kv##*:}"
  done
  fdtput -t s "$out" "$mb/clcd@1f000" status disabled
}

# boot_board NAME RUNS "SETUP" "MODULES" "CASES" QEMU-ARGS...
# Boots one board with the shared initramfs plus the boot's own part (the
# guest's setup steps, modules and their dependencies, the case list),
# answers the guest's requests for screen pictures, and leaves in
# $work/boot-NAME the serial
# log, QEMU's pictures (CASE.ppm, CASE-after.ppm) and the files the guest
# sent. Bounded: QEMU is killed after 300 s.
boot_board() {
  local name=$1 runs=$2 setup=$3 modules=$4 cases=$5
  shift 5
  local dir=$work/boot-$name
  rm -rf "$dir"
  mkdir -p "$dir/extra/board/mod"
  local m f
  for m in $modules; do
    for f in $(modprobe -d "$guest/root" -S "$kver" --show-depends "$m" | awk '$1 == "insmod" { print $2 }'); do
      cp "$f" "$dir/extra/board/mod/"
      basename "$f" >>"$dir/extra/board/modules"
    done
  done
  touch "$dir/extra/board/modules"
  echo "$cases" >"$dir/extra/board/cases"
  echo "$setup" >"$dir/extra/board/setup"
  echo "$runs" >"$dir/extra/board/runs"
  # The kernel unpacks concatenated archives one over the other.
  (cd "$dir/extra" && find . | cpio -o -H newc --quiet) | gzip -1 >"$dir/extra.cpio.gz"
  cat "$base.cpio.gz" "$dir/extra.cpio.gz" >"$dir/initrd"

  mkfifo "$dir/ser.in" "$dir/ser.out" "$dir/mon.in" "$dir/mon.out"
  local start=$SECONDS
  timeout -k 5 300 "$qemu_system" "$@" -initrd "$dir/initrd" \
    -chardev "pipe,id=ser,path=$dir/ser" -serial chardev:ser \
    -chardev "pipe,id=mon,path=$dir/mon" -mon chardev=mon,mode=control \
    >"$dir/qemu.log" 2>&1 &
  local qemu=$!
  cat "$dir/ser.out" >"$dir/serial.log" &
  local reader1=$!
  cat "$dir/mon.out" >"$dir/qmp.log" &
  local reader2=$!
  exec {ser}<>"$dir/ser.in" {mon}<>"$dir/mon.in"
  echo '{"execute":"qmp_capabilities"}' >&"$mon"
  local answered=0 asked shot returns want
  while kill -0 "$qemu" 2>/dev/null; do
    grep -q '^BOARD end [0-9]' "$dir/serial.log" && break
    asked=$(tr -d '\r' <"$dir/serial.log" | grep -c '^BOARD shot ' || true)
    while [ "$answered" -lt "$asked" ]; do
      answered=$((answered + 1))
      shot=$(tr -d '\r' <"$dir/serial.log" | grep '^BOARD shot ' | sed -n "${answered}p" | cut -d' ' -f3)
      want=$((answered + 1)) # the capabilities' reply, then one per picture
      echo "{\"execute\":\"screendump\",\"arguments\":{\"filename\":\"$dir/$shot.ppm\"}}" >&"$mon"
      for _ in $(seq 300); do
        returns=$(grep -c '"return"' "$dir/qmp.log" || true)
        [ "$returns" -ge "$want" ] && break
        sleep 0.1
      done
      echo ok >&"$ser"
    done
    sleep 0.2
  done
  # The guest powers off after its last line; give it a moment.
  for _ in $(seq 50); do
    kill -0 "$qemu" 2>/dev/null || break
    sleep 0.1
  done
  kill "$qemu" 2>/dev/null || true
  wait "$qemu" 2>/dev/null || true
  exec {ser}>&- {mon}>&-
  kill "$reader1" "$reader2" 2>/dev/null || true
  wait "$reader1" "$reader2" 2>/dev/null || true
  echo "boot $name: $((SECONDS - start)) s"
  tr -d '\r' <"$dir/serial.log" >"$dir/serial.txt"
  if ! grep -q '^BOARD end [0-9]' "$dir/serial.txt"; then
    echo "arm-board: the $name guest did not finish; the end of its console and of QEMU's output:"
    tail -15 "$dir/serial.txt"
    tail -5 "$dir/qemu.log"
  fi
  # Files the guest sent.
  awk -v dir="$dir" '
    /^BOARD file / { name = $3; out = dir "/" name ".b64"; printf "" > out; next }
    /^BOARD endfile / { close(out); out = ""; next }
    out != "" { print >> out }
  ' "$dir/serial.txt"
  for f in "$dir"/*.b64; do
    [ -e "$f" ] || continue
    base64 -d "$f" >"${f%.b64}" || echo "arm-board: ${f##*/} did not decode" >&2
    rm -f "$f"
  done
  for f in "$dir"/*.gz; do
    [ -e "$f" ] && [ "$f" != "$dir/extra.cpio.gz" ] && gunzip -f "$f"
  done
  return 0
}

# check_case BOOT CASE BITS: the checks of one case, counted.
check_case() {
  local boot=$1 name=$2 bits=$3
  local dir=$work/boot-$boot
  local shot=$dir/$name.ppm line out
  while read -r line; do
    fail "$name: the guest said: ${line#BOARD error }"
  done < <(grep "^BOARD error $name" "$dir/serial.txt" 2>/dev/null)
  grep "^BOARD screen $name " "$dir/serial.txt" | cut -d' ' -f4- | sed "s/^/     $name: /" || true
  if [ ! -s "$shot" ]; then
    fail "$name: no screen picture (serial log: $dir/serial.txt)"
    keep=1
    return
  fi
  run_check "$name" screen "$shot" "$bits"
  run_check "$name" same "$shot" "$dir/$name-after.ppm"
  if [ -n "$snap" ]; then
    run_check "$name" png "$shot" "$dir/$name.png" "$bits"
    run_check "$name" jpeg "$shot" "$dir/$name-q90.jpg" 90 "$bits"
    run_check "$name" jpeg "$shot" "$dir/$name-q40.jpg" 40 "$bits"
  fi
  run_check "$name" ppm "$shot" "$dir/$name-ref.ppm" "$bits"
}

run_check() {
  local name=$1 out
  shift
  local file=${3##*/}
  [ "$1" = screen ] && file=${2##*/}
  if [ "$1" != screen ] && [ ! -s "$3" ]; then
    fail "$name: $1: $file did not come back"
    keep=1
    return
  fi
  if out=$("$check" "$@" 2>&1); then
    pass "$name: $out"
  else
    fail "$name: $file: $out"
    keep=1
  fi
}

# The guest's timings: fastest and median of the runs, per case and tool.
print_times() {
  local f
  echo "Capture times in the $arch guest (ms, fastest / median of ${runs} runs; under emulation):"
  for f in "$work"/boot-*/serial.txt; do
    [ -e "$f" ] || continue
    grep '^BOARD time ' "$f" | awk '{ printf "  %-14s %-13s %-9s %6s / %s\n", $3, $4, $5, $6, $7 }'
  done | tee "$work/times.txt"
}
