#!/bin/sh
# Installs the build into a temporary prefix, builds two hosts against the
# installed files (pkg-config and find_package) and runs them on a private
# Xvfb, with the README's Python example as it stands there (where python3
# is installed).  usage: install_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
src=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && "$src/scripts/xvfb-stop.sh" "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install_test: $*" >&2; exit 1; }
is_png() { [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ]; }
is_jpeg() { [ "$(head -c 2 "$1" | od -An -tx1 | tr -d ' \n')" = "ffd8" ]; }

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

[ -f "$prefix/include/kestrel/kestrel.h" ] || fail "header not installed"
[ -x "$prefix/bin/kestrel-snap" ] || fail "kestrel-snap not installed"
pc=$(find "$prefix" -name kestrel.pc)
[ -n "$pc" ] || fail "kestrel.pc not installed"
libdir=$(dirname "$(dirname "$pc")")
real=$(find "$libdir" -maxdepth 1 -type f -name 'libKestrel.so.*')
[ -n "$real" ] || fail "no libKestrel.so.X.Y.Z"
soname=$(objdump -p "$real" | awk '/SONAME/ {print $2}')
[ -L "$libdir/$soname" ] || fail "no SONAME link $soname"
[ -L "$libdir/libKestrel.so" ] || fail "no libKestrel.so development link"
find "$prefix" -name KestrelConfig.cmake | grep -q . || fail "no CMake package"

export PKG_CONFIG_PATH="$(dirname "$pc")"
[ "$(pkg-config --modversion kestrel)" = "$("$prefix/bin/kestrel-snap" --version | cut -d' ' -f2)" ] ||
  fail "pkg-config and kestrel-snap disagree on the version"
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror -o "$work/host-pc" "$here/install_host/host.c" \
  $(pkg-config --cflags --libs kestrel) -Wl,-rpath,"$libdir"

cmake -S "$here/install_host" -B "$work/host-cmake" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/host-cmake" >/dev/null

set -- $("$src/scripts/xvfb-start.sh" 320x200x24)
DISPLAY=$1
xvfb_pid=$2
export DISPLAY

"$work/host-pc" "$work/a.png" 0 || fail "pkg-config host failed"
is_png "$work/a.png" || fail "pkg-config host wrote no PNG"
"$work/host-cmake/host" "$work/b.jpg" 80 || fail "find_package host failed"
is_jpeg "$work/b.jpg" || fail "find_package host wrote no JPEG"
"$prefix/bin/kestrel-snap" "$work/c.png" ||
  fail "installed kestrel-snap failed"
cmp -s "$work/a.png" "$work/c.png" || fail "the two PNG captures differ"

# The README's Python example, then its snap() with a name beyond ASCII
# and with a folder that does not exist (OSError, errno ENOENT).
if command -v python3 >/dev/null; then
  awk '/^## Calling it from Python/ { on = 1 }
       on && /^```python/ { inside = 1; next }
       inside && /^```/ { exit }
       inside { print }' "$src/README.md" >"$work/example.py"
  [ -s "$work/example.py" ] || fail "no Python example in README.md"
  (cd "$work" && LD_LIBRARY_PATH="$libdir" python3 example.py) || fail "the Python example failed"
  cmp -s "$work/shot.png" "$work/c.png" || fail "the Python example's PNG differs"
  is_jpeg "$work/shot.jpg" || fail "the Python example wrote no JPEG"
  (cd "$work" && LD_LIBRARY_PATH="$libdir" python3 - <<'PY') || fail "the Python example's snap() misbehaved"
import errno, os, sys
sys.path.insert(0, ".")
import example
name = "\u00e9t\u00e9-\U0001F600.png"
example.snap(name)
assert os.path.exists(name), os.listdir(".")
try:
    example.snap("no/such/folder/x.png")
    sys.exit("no error for a missing folder")
except OSError as e:
    assert e.errno == errno.ENOENT, e
PY
fi
echo "install_test: all checks passed"
