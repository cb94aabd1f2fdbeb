#!/usr/bin/env bash
# Prints the folder holding the wlroots protocol XML files (screencopy,
# layer-shell). Debian 12 ships them only inside librust-wayland-protocols-dev,
# whose installation pulls in a Rust toolchain's worth of packages, so the
# package is fetched and unpacked into CACHE instead, once per version.
# Usage: wayland-protocols.sh CACHE
set -euo pipefail

pkg=librust-wayland-protocols-dev
cache=${1:?usage: $0 CACHE}
inner=usr/share/cargo/registry/wayland-protocols-*/wlr-protocols/unstable
wanted=wlr-screencopy-unstable-v1.xml

found() { # the first folder of the pattern that holds the file
  for d in $1; do
    if [ -f "$d/$wanted" ]; then echo "$d"; return 0; fi
  done
  return 1
}

# An installed copy needs no download.
if dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
  found "/$inner" && exit 0
fi

version=$(apt-cache policy "$pkg" 2>/dev/null | sed -n 's/^ *Candidate: //p')
if [ -z "$version" ] || [ "$version" = "(none)" ]; then
  # No package index to ask: any version unpacked earlier will do.
  found "$cache/$pkg"_*/"$inner" && exit 0
  echo "$pkg is not known to apt; run apt-get update" >&2
  exit 1
fi

dest="$cache/${pkg}_${version//:/%}"
if ! found "$dest/$inner" >/dev/null; then
  mkdir -p "$cache"
  work=$(mktemp -d "$cache/.fetch.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && apt-get download -qq "$pkg=$version" >/dev/null 2>&1) || {
    echo "apt-get download $pkg=$version failed" >&2
    exit 1
  }
  dpkg -x "$work"/*.deb "$work/root"
  rm -rf "$dest"
  mv "$work/root" "$dest"
fi
found "$dest/$inner"
