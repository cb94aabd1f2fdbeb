#!/bin/sh
# Builds Kestrel (Release) and captures the screen to out/screen.png and
# out/screen.jpg. Without a reachable X display it starts a private Xvfb,
# draws a demo scene on it, captures that and stops the server again.
# Made for Debian 12; installs missing packages with apt-get.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build-release"
out="$root/out"

"$root/scripts/deps.sh" --build

echo "quickstart: building in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DKESTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kestrel-snap kestrel-demo-scene \
  >/dev/null

xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then "$root/scripts/xvfb-stop.sh" "$xvfb_pid"; fi
}
trap cleanup EXIT INT TERM

if [ -n "${DISPLAY:-}" ] && "$build/kestrel-demo-scene" --check; then
  echo "quickstart: capturing display $DISPLAY"
else
  set -- $("$root/scripts/xvfb-start.sh" 1280x800x24)
  DISPLAY=$1
  xvfb_pid=$2
  export DISPLAY
  echo "quickstart: no reachable display; started Xvfb on $DISPLAY (pid $xvfb_pid)"
  "$build/kestrel-demo-scene"
fi

mkdir -p "$out"
"$build/kestrel-snap" "$out/screen.png"
"$build/kestrel-snap" "$out/screen.jpg"
cleanup
xvfb_pid=""
echo "quickstart: wrote $out/screen.png and $out/screen.jpg"
