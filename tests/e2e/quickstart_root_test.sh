#!/bin/sh
# Runs the quick start in a fresh minimal Debian 12 root (minimal_root.sh)
# whose package sources include one that cannot be updated: the dependency
# script must carry on and install the build set, and the quick start must
# build and capture. Prints how many packages it installed. Root only:
# exits 77 (skipped) otherwise.
# usage: quickstart_root_test.sh SOURCE_DIR CACHE
set -eu
src=$(realpath "$1")
. "$src/tests/e2e/minimal_root.sh"
open_minimal_root quickstart_root_test "$2"

mkdir "$root/src"
tar -C "$src" --exclude='./build*' --exclude=./dist --exclude=./out \
  --exclude=./.git -cf - . | tar -C "$root/src" -xf -
echo "deb http://deb.debian.org/debian bookworm-nonexistent main" \
  >"$root/etc/apt/sources.list.d/unreachable.list"
installed() { in_root dpkg-query -W -f='${db:Status-Abbrev}\n' | grep -c '^ii'; }
before=$(installed)
in_root sh -c 'cd /src && scripts/quickstart.sh' >"$work/quickstart.log" 2>&1 ||
  { tail -30 "$work/quickstart.log" >&2; fail "the quick start failed"; }
grep -q 'apt-get update reported errors' "$work/quickstart.log" ||
  fail "the unreachable source did not fail the index update"
after=$(installed)
[ "$(head -c 8 "$root/src/out/screen.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
  fail "no PNG in out/"
[ "$(head -c 2 "$root/src/out/screen.jpg" | od -An -tx1 | tr -d ' \n')" = ffd8 ] ||
  fail "no JPEG in out/"
echo "quickstart_root_test: the quick start installed $((after - before)) packages" \
  "on a fresh minbase root ($before before, $after after), built and captured"
