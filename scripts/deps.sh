#!/usr/bin/env bash
# Installs, from Debian's archive, whatever is missing of the packages a
# task needs, and any packages named after the options. Needs root (or
# sudo) when something is missing.
#   scripts/deps.sh [PACKAGE...]           the test world: building, the
#                                          suite's servers, desktops and tools
#   scripts/deps.sh --build [PACKAGE...]   building and capturing only
set -euo pipefail

# Building the library and kestrel-snap, and capturing a private X server.
build=(
  build-essential cmake pkg-config
  libjpeg62-turbo-dev libpng-dev zlib1g-dev
  libxcb1-dev libxcb-shm0-dev libxau-dev
  libdrm-dev
  libwayland-dev libwayland-bin wayland-protocols libdbus-1-dev
  xvfb xfonts-base
)
# The suite, the sanitizers, the fuzzers and the benchmarks besides.
test=(
  binutils util-linux x11-xserver-utils ninja-build
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format valgrind
  sway swaybg grim weston xwayland dbus dbus-daemon pipewire
  xdg-desktop-portal xdg-desktop-portal-wlr xdg-desktop-portal-gtk
  python3
)

packages=("${build[@]}")
if [ "${1:-}" = "--build" ]; then
  shift
else
  packages+=("${test[@]}")
fi
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
# One index that fails to update (a mirror caught mid-sync, a source that
# is down) need not stop the install: the install below is the check.
$sudo apt-get update -qq || echo "deps.sh: apt-get update reported errors; installing from the indexes there are" >&2
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
