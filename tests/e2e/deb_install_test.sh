#!/bin/sh
# Builds the Debian package of this build, installs it with dpkg -i, runs
# the installed kestrel-snap on a private Xvfb, checks the PNG, and purges
# the package again. Needs root; exits 77 (skipped) otherwise, and when a
# kestrel package is already installed (it is left alone).
# usage: deb_install_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
src=$2
[ "$(id -u)" -eq 0 ] || { echo "deb_install_test: not root, skipped"; exit 77; }
if dpkg-query -W -f='${Status}' kestrel 2>/dev/null | grep -q 'ok installed'; then
  echo "deb_install_test: a kestrel package is installed already, skipped"
  exit 77
fi

work=$(mktemp -d)
xvfb_pid=""
installed=""
cleanup() {
  [ -n "$xvfb_pid" ] && "$src/scripts/xvfb-stop.sh" "$xvfb_pid"
  [ -n "$installed" ] && dpkg --purge kestrel >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "deb_install_test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/packages" >/dev/null) || fail "cpack failed"
deb=$(find "$work/packages" -maxdepth 1 -name "kestrel_*_$(dpkg --print-architecture).deb")
[ -n "$deb" ] || fail "no .deb for $(dpkg --print-architecture)"

# Another process may hold dpkg's lock for a while.
tries=0
until dpkg -i "$deb" >"$work/dpkg.log" 2>&1; do
  tries=$((tries + 1))
  grep -q 'lock' "$work/dpkg.log" && [ "$tries" -lt 60 ] || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
  sleep 2
done
installed=yes

[ -x /usr/bin/kestrel-snap ] || fail "no /usr/bin/kestrel-snap"
[ -f /usr/include/kestrel/kestrel.h ] || fail "no header"
lib=$(dpkg -L kestrel | grep '/libKestrel\.so\.[0-9]*$') || fail "no SONAME link"
[ -L "$lib" ] && [ -e "$lib" ] || fail "$lib is not a link to the library"
dpkg -L kestrel | grep -q '/pkgconfig/kestrel\.pc$' || fail "no kestrel.pc"
dpkg -L kestrel | grep -q '/cmake/Kestrel/KestrelConfig\.cmake$' || fail "no CMake package"

set -- $("$src/scripts/xvfb-start.sh" 320x200x24)
xvfb_pid=$2
DISPLAY=$1 /usr/bin/kestrel-snap "$work/shot.png" || fail "kestrel-snap failed"
# PNG signature, then the IHDR's width and height: 320 x 200.
[ "$(head -c 24 "$work/shot.png" | od -An -tx1 | tr -d ' \n')" = \
  "89504e470d0a1a0a0000000d4948445200000140000000c8" ] || fail "not a 320x200 PNG"
# The same screen through the build's own program: the same file.
DISPLAY=$1 "$build/kestrel-snap" "$work/built.png" || fail "the build's kestrel-snap failed"
cmp -s "$work/shot.png" "$work/built.png" || fail "installed and built captures differ"

dpkg --purge kestrel >/dev/null || fail "dpkg --purge failed"
installed=""
[ ! -e /usr/bin/kestrel-snap ] || fail "kestrel-snap left after purge"
[ ! -e "$lib" ] || fail "library left after purge"
echo "deb_install_test: all checks passed"
