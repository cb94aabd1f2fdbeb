#!/bin/sh
# Installs the three packages that scripts/package.sh left in DIST with
# apt-get install ./... into a minimal Debian 12 root (mmdebstrap, variant
# minbase), so that apt must bring every library they depend on; checks
# that kestrel-snap starts with nothing else installed; then, with Xvfb and
# a compiler added, captures an Xvfb inside the root with kestrel-snap and
# with a host built there with pkg-config. Root only: exits 77 (skipped)
# otherwise. The root is made once and kept in CACHE (minimal_root.sh).
# usage: deb_install_test.sh SOURCE_DIR DIST CACHE
set -eu
src=$(realpath "$1")
dist=$(realpath "$2")
. "$src/tests/e2e/minimal_root.sh"
xvfb=""
stop_xvfb() { if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; fi; }
on_exit=stop_xvfb
open_minimal_root deb_install_test "$3"

mkdir -p "$root/tmp/debs"
version=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)
for p in libkestrel0 libkestrel-dev kestrel-snap; do
  cp "$dist/${p}_${version}_$arch.deb" "$root/tmp/debs/" || fail "no $p package in $dist"
done
in_root apt-get update -qq || echo "deb_install_test: apt-get update reported errors" >&2
debs=""
for p in libkestrel0 libkestrel-dev kestrel-snap; do debs="$debs /tmp/debs/${p}_${version}_$arch.deb"; done
# shellcheck disable=SC2086
in_root apt-get install -y -qq --no-install-recommends $debs >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get install failed"; }
echo "deb_install_test: installed into a fresh $suite $variant root:"
grep -E '^(Setting up|Unpacking) ' "$work/apt.log" | sed 's/^/  /'

# With only what the packages pulled in: every library the programs need.
in_root kestrel-snap --version || fail "kestrel-snap does not start"
lib=$(in_root dpkg -L libkestrel0 | grep '/libKestrel\.so\.0$')
[ -n "$lib" ] || fail "no SONAME link in libkestrel0"
case $lib in /usr/lib/*-linux-gnu*/libKestrel.so.0) ;; *) fail "library outside the multiarch folder: $lib" ;; esac
in_root ldconfig -p | grep -q 'libKestrel\.so\.0 ' || fail "the library cache does not list libKestrel.so.0"
[ -f "$root/usr/share/man/man1/kestrel-snap.1.gz" ] || fail "no man page"
for p in libkestrel0 libkestrel-dev kestrel-snap; do
  [ -f "$root/usr/share/doc/$p/copyright" ] || fail "no copyright file in $p"
done

in_root apt-get install -y -qq --no-install-recommends xvfb xauth gcc libc6-dev pkg-config \
  >"$work/apt2.log" 2>&1 || { cat "$work/apt2.log" >&2; fail "apt-get install of Xvfb and gcc failed"; }
cp "$src/tests/e2e/install_host/host.c" "$root/tmp/host.c"
# shellcheck disable=SC2016
in_root sh -c 'cc -Wall -Wextra -Werror -o /tmp/host /tmp/host.c $(pkg-config --cflags --libs kestrel)' ||
  fail "building a host with pkg-config failed"
header=$(in_root /tmp/host --version)
pc=$(in_root pkg-config --modversion kestrel)
deb=$(in_root dpkg-query -W -f='${Version}' libkestrel0)
echo "deb_install_test: header $header, pkg-config $pc, package $deb"
[ "$header" = "$pc" ] && [ "$pc" = "${deb%%-*}" ] || fail "the versions differ"

chroot "$root" Xvfb :7 -nolisten tcp -screen 0 320x200x24 >/dev/null 2>&1 &
xvfb=$!
tries=0
until [ -e "$root/tmp/.X11-unix/X7" ]; do
  tries=$((tries + 1))
  [ "$tries" -lt 100 ] || fail "Xvfb did not start in the root"
  sleep 0.1
done
in_root env DISPLAY=:7 kestrel-snap /tmp/shot.png || fail "kestrel-snap failed"
in_root env DISPLAY=:7 /tmp/host /tmp/host.png 0 || fail "the host failed"
# PNG signature, then the IHDR's width and height: 320 x 200.
[ "$(head -c 24 "$root/tmp/shot.png" | od -An -tx1 | tr -d ' \n')" = \
  "89504e470d0a1a0a0000000d4948445200000140000000c8" ] || fail "not a 320x200 PNG"
cmp -s "$root/tmp/shot.png" "$root/tmp/host.png" || fail "kestrel-snap and the host captured differently"
echo "deb_install_test: captured Xvfb inside the root: $(wc -c <"$root/tmp/shot.png") bytes, 320x200 PNG"
echo "deb_install_test: all checks passed"
