#!/usr/bin/env bash
# Installs, from Debian's archive, whatever of the build and test
# dependencies is missing. Needs root (or sudo) when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config binutils util-linux
  libjpeg62-turbo-dev libpng-dev zlib1g-dev
  libxcb1-dev libxcb-shm0-dev libxcb-randr0-dev libxau-dev x11-xserver-utils
  libdrm-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xfonts-base clang libclang-rt-14-dev clang-format valgrind ninja-build
  libwayland-dev libwayland-bin wayland-protocols libdbus-1-dev
  sway swaybg grim weston xwayland dbus dbus-daemon pipewire
  xdg-desktop-portal xdg-desktop-portal-wlr xdg-desktop-portal-gtk
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
