#!/usr/bin/env bash
# Gives a sysroot made by unpacking .deb files a dpkg database of its own
# (var/lib/dpkg), so that dpkg-shlibdeps --admindir can tell which package,
# at which version, holds each library a cross-built binary needs, from the
# packages' own shlibs and symbols files. The file lists name the files
# under FINAL, the sysroot's path once made, where dpkg-shlibdeps -l finds
# them.
# usage: sysroot-dpkg-db.sh ROOT FINAL DEBS   (DEBS: the folder of the
# .deb files unpacked into ROOT)
set -euo pipefail
root=${1:?usage: sysroot-dpkg-db.sh ROOT FINAL DEBS}
final=${2:?usage: sysroot-dpkg-db.sh ROOT FINAL DEBS}
debs=${3:?usage: sysroot-dpkg-db.sh ROOT FINAL DEBS}
admin=$root/var/lib/dpkg

rm -rf "$admin"
mkdir -p "$admin/info" "$admin/updates"
echo 1 >"$admin/info/format"  # names like pkg:arch.list
: >"$admin/status.new"
arches=$(dpkg --print-architecture)
control=$(mktemp -d)
trap 'rm -rf "$control"' EXIT
for deb in "$debs"/*.deb; do
  pkg=$(dpkg-deb -f "$deb" Package)
  arch=$(dpkg-deb -f "$deb" Architecture)
  name=$pkg
  [ "$(dpkg-deb -f "$deb" Multi-Arch)" = same ] && name=$pkg:$arch
  case " $arches all " in *" $arch "*) ;; *) arches="$arches $arch" ;; esac
  { dpkg-deb -f "$deb" | sed '/^Status:/d'; echo "Status: install ok installed"; echo; } >>"$admin/status.new"
  rm -rf "${control:?}/c"
  dpkg-deb -e "$deb" "$control/c"
  for f in shlibs symbols; do
    if [ -f "$control/c/$f" ]; then cp "$control/c/$f" "$admin/info/$name.$f"; fi
  done
  dpkg-deb -c "$deb" | awk -v r="$final" '{ p = $6; sub(/^\./, "", p); sub(/\/$/, "", p); if (p != "") print r p }' \
    >"$admin/info/$name.list"
done
printf '%s\n' $arches >"$admin/arch"
# Last: a status file means a whole database.
mv "$admin/status.new" "$admin/status"
