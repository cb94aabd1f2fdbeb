#!/usr/bin/env bash
# SnapShot on real desktops: GNOME Shell and KWin, each headless on one
# 1280x720 virtual output, as an unprivileged user with a private runtime
# folder, session bus and home. Each shows a known picture (a fullscreen
# xdg-shell client) and kestrel's picture is compared pixel for pixel with
# the desktop's own screenshot (gnome-screenshot, spectacle), when the
# portal grants, refuses or leaves the request unanswered, and from an X
# program that has only DISPLAY (Xwayland).
#   scripts/desktops.sh [gnome|kde]...   both when none is named
# Installs the desktops' packages with apt-get when missing (root), builds
# the library in build/ (as scripts/test.sh does) and prints one line per
# case, then "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
desktops=("$@")
[ ${#desktops[@]} -gt 0 ] || desktops=(gnome kde)

packages=(gjs xwayland dbus dbus-daemon dbus-bin libwayland-dev
  wayland-protocols libwayland-bin python3 util-linux passwd)
for d in "${desktops[@]}"; do
  case "$d" in
    gnome) packages+=(gnome-shell xdg-desktop-portal-gnome gnome-screenshot) ;;
    # Without qtwayland5 and plasma-workspace the KDE portal backend aborts
    # on every Screenshot call.
    kde) packages+=(kwin-wayland xdg-desktop-portal-kde kde-spectacle qtwayland5
                    plasma-workspace) ;;
    *) echo "unknown desktop: $d" >&2; exit 2 ;;
  esac
done
install_start=$(date +%s)
scripts/deps.sh "${packages[@]}"
echo "packages ready in $(( $(date +%s) - install_start )) s"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target Kestrel kestrel-snap >/dev/null

# The test user: a system account of its own, made once.
user=kestreldesk
id -u "$user" >/dev/null 2>&1 ||
  useradd --system --no-create-home --home-dir /nonexistent \
    --shell /usr/sbin/nologin "$user"
uid=$(id -u "$user")

work=$(mktemp -d /tmp/kestrel-desktops-XXXXXX)
chmod 755 "$work"
groups_=()  # process groups to end
end_groups() {
  for g in "${groups_[@]}"; do kill -TERM -- "-$g" 2>/dev/null || true; done
  sleep 1
  for g in "${groups_[@]}"; do kill -KILL -- "-$g" 2>/dev/null || true; done
  groups_=()
}
cleanup() {
  end_groups
  # A killed Xwayland leaves its socket and lock file behind.
  find /tmp/.X11-unix /tmp -maxdepth 1 -user "$user" \( -name 'X[0-9]*' -o \
    -name '.X[0-9]*-lock' \) -delete 2>/dev/null || true
  [ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

# The helpers, built against the library in build/.
tools=$work/tools
mkdir -p "$tools"
xdg=$(pkg-config --variable=pkgdatadir wayland-protocols)/stable/xdg-shell/xdg-shell.xml
wayland-scanner client-header "$xdg" "$tools/xdg-shell-client-protocol.h"
wayland-scanner private-code "$xdg" "$tools/xdg-shell-protocol.c"
cc -O2 -I"$tools" -o "$tools/fullscreen_picture" tests/desktops/fullscreen_picture.c \
  "$tools/xdg-shell-protocol.c" $(pkg-config --cflags --libs wayland-client)
cc -O2 -I"$root/include" -I"$root/build/include" -o "$tools/snap_probe" tests/desktops/snap_probe.c \
  -L"$root/build" -lKestrel -Wl,-rpath,"$root/build"
cp tests/desktops/press_keys.js tests/desktops/same_picture.py "$tools/"
chmod -R a+rX "$tools"

passed=0
failed=0
# check NAME CONDITION-TEXT COMMAND...: one case's line.
check() {
  local name=$1 detail=$2
  shift 2
  if "$@"; then
    passed=$((passed + 1)); echo "PASS $name: $detail"
  else
    failed=$((failed + 1)); echo "FAIL $name: $detail"
  fi
}

# known_limit NAME WHY DETAIL COMMAND...: a case that this desktop's
# software does not allow yet. It is run and shown as XFAIL with the reason;
# should it pass one day, XPASS fails the run so that it becomes a check.
known_limit() {
  local name=$1 why=$2 detail=$3
  shift 3
  if "$@"; then
    failed=$((failed + 1)); echo "XPASS $name: $detail (make it a check)"
  else
    echo "XFAIL $name: $detail ($why)"
  fi
}

# The session of one desktop: $S is its folder; env holds its variables.
S=
session_env=()
new_session() {
  S=$work/$1
  mkdir -p "$S/home" "$S/run"
  chmod 700 "$S/run"
  chown -R "$user:" "$S"
  session_env=(PATH=/usr/local/bin:/usr/bin:/bin HOME=$S/home
    XDG_RUNTIME_DIR=$S/run XDG_CONFIG_HOME=$S/home/.config
    XDG_DATA_HOME=$S/home/.local/share XDG_CACHE_HOME=$S/home/.cache
    XDG_SESSION_TYPE=wayland LANG=C.UTF-8)
}
# as_user VAR=VALUE... COMMAND...: runs in the session as the test user.
as_user() {
  setpriv --reuid="$uid" --regid="$(id -g "$user")" --clear-groups \
    env -i "${session_env[@]}" "$@"
}
# started LOG VAR=VALUE... COMMAND...: in the background, in a process
# group of its own; sets $last_pid.
started() {
  local log=$1
  shift
  setsid setpriv --reuid="$uid" --regid="$(id -g "$user")" --clear-groups \
    env -i "${session_env[@]}" "$@" >"$log" 2>&1 </dev/null &
  last_pid=$!
  groups_+=("$last_pid")
}
# A session bus (and, for GNOME, a private system bus: with
# /run/systemd/seats present the shell asks logind on the system bus).
start_buses() {
  local desktop=$1
  cat >"$S/system.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:dir=$S/run</listen>
<auth>EXTERNAL</auth><policy context="default">
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>
EOF
  chown "$user:" "$S/system.conf"
  started "$S/system-bus.log" dbus-daemon --nofork --nopidfile \
    --config-file="$S/system.conf" --print-address=1
  local system_log=$S/system-bus.log
  started "$S/session-bus.log" XDG_CURRENT_DESKTOP="$desktop" \
    dbus-daemon --session --nofork --nopidfile --print-address=1
  for _ in $(seq 100); do
    [ -s "$S/session-bus.log" ] && [ -s "$system_log" ] && break
    sleep 0.05
  done
  session_env+=(XDG_CURRENT_DESKTOP="$desktop"
    DBUS_SESSION_BUS_ADDRESS="$(head -1 "$S/session-bus.log")"
    DBUS_SYSTEM_BUS_ADDRESS="$(head -1 "$system_log")")
}
# The desktop's Xwayland display, as :N, from its command line (the test
# user runs nothing else).
new_x_display() {
  { pgrep -u "$uid" -a Xwayland | grep -oE ' :[0-9]+' | head -1 | tr -d ' '; } || true
}
ms_since() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }
# The known picture, fullscreen; waits until the compositor has shown it.
show_picture() {
  started "$S/picture.log" WAYLAND_DISPLAY=wayland-0 "$tools/fullscreen_picture"
  for _ in $(seq 100); do grep -q shown "$S/picture.log" && break; sleep 0.1; done
  grep -q shown "$S/picture.log"
}
# probe FILE [VAR=VALUE...]: one SnapShot call; sets $probe (its line).
probe() {
  local file=$1
  shift
  probe=$(as_user "$@" "$tools/snap_probe" "$file" 2>&1 || true)
}
field() { sed -E "s/.*$1=([^ ]*).*/\1/" <<<"$2"; }
same() { as_user python3 "$tools/same_picture.py" "$1" "$2"; }
no_stray_pictures() {
  [ -z "$(find "$S/home" -name '*.png' -newer "$S/truth.png" 2>/dev/null)" ]
}

gnome_bus() {
  as_user WAYLAND_DISPLAY=wayland-0 gdbus "$@"
}
permission() {  # permission yes|no|delete
  local store=(call --session --dest org.freedesktop.impl.portal.PermissionStore
    --object-path /org/freedesktop/impl/portal/PermissionStore --method)
  if [ "$1" = delete ]; then
    gnome_bus "${store[@]}" org.freedesktop.impl.portal.PermissionStore.DeletePermission \
      screenshot screenshot '' >/dev/null 2>&1 || true
  else
    gnome_bus "${store[@]}" org.freedesktop.impl.portal.PermissionStore.SetPermission \
      screenshot true screenshot '' "['$1']" >/dev/null
  fi
}
keys() { as_user gjs "$tools/press_keys.js" "$@"; }
# probe_answered FILE KEY...: a call whose dialog is answered with the keys
# once it has had 2 s to appear.
probe_answered() {
  local file=$1 out=$S/probe.out
  shift
  as_user WAYLAND_DISPLAY=wayland-0 "$tools/snap_probe" "$file" >"$out" 2>&1 &
  local pid=$!
  sleep 2
  keys "$@"
  wait "$pid" || true
  probe=$(cat "$out")
}

run_gnome() {
  new_session gnome
  as_user mkdir -p "$S/home/.local/share/gnome-shell"
  # Else a banner about the missing lock screen covers the picture.
  as_user touch "$S/home/.local/share/gnome-shell/lock-warning-shown"
  start_buses GNOME
  local t0
  t0=$(date +%s%N)
  started "$S/shell.log" gnome-shell --headless --wayland \
    --virtual-monitor 1280x720 --wayland-display=wayland-0
  local shell=(call --session --dest org.gnome.Shell --object-path /org/gnome/Shell
    --method org.freedesktop.DBus.Properties)
  for _ in $(seq 300); do
    gnome_bus "${shell[@]}.Get" org.gnome.Shell OverviewActive >/dev/null 2>&1 && break
    sleep 0.1
  done
  local started_ms
  started_ms=$(ms_since "$t0")
  echo "gnome: $(gnome-shell --version), shell up in $started_ms ms"
  # What gnome-session does at login: without it the portal backend
  # cannot open a display.
  local xauth
  xauth=$(ls "$S"/run/.mutter-Xwaylandauth.* 2>/dev/null | head -1)
  session_env+=(XAUTHORITY="$xauth")
  # mutter names its Xwayland display in its log (Xwayland may start on
  # demand).
  local display
  display=$(sed -nE 's/.*Using public X11 display (:[0-9]+).*/\1/p' "$S/shell.log" | head -1)
  as_user WAYLAND_DISPLAY=wayland-0 DISPLAY="$display" dbus-update-activation-environment \
    WAYLAND_DISPLAY DISPLAY XAUTHORITY
  gnome_bus "${shell[@]}.Set" org.gnome.Shell OverviewActive '<false>' >/dev/null
  check "gnome picture shown" "fullscreen client" show_picture
  sleep 1
  t0=$(date +%s%N)
  as_user WAYLAND_DISPLAY=wayland-0 gnome-screenshot -f "$S/truth.png"
  echo "gnome: gnome-screenshot took $(ms_since "$t0") ms"
  local W=(WAYLAND_DISPLAY=wayland-0)

  # Unanswered: the call gives up after its bound; the dialog must be gone
  # then, and an Allow pressed later must leave no file.
  permission delete
  probe "$S/unanswered.png" "${W[@]}"
  as_user "${W[@]}" gnome-screenshot -f "$S/after-unanswered.png"
  keys 0xff09 0xff0d  # Tab to Allow, Return
  sleep 2
  check "gnome unanswered: given up at the 10 s bound" "$probe" \
    test "$(field result "$probe")" = 0 -a "$(field ms "$probe")" -lt 12000
  # xdg-desktop-portal 1.16 shows the permission dialog before it makes
  # the backend's request, so the Request.Close of a call that gave up
  # does not reach the dialog; an Allow pressed later stores the grant and
  # has the backend write ~/Screenshot.png.
  local why="xdg-desktop-portal 1.16 does not pass Request.Close to its permission dialog"
  known_limit "gnome unanswered: dialog gone" "$why" \
    "$(same "$S/truth.png" "$S/after-unanswered.png")" \
    same "$S/truth.png" "$S/after-unanswered.png"
  known_limit "gnome unanswered: no stray file after a late Allow" "$why" \
    "$(find "$S/home" -name '*.png' -newer "$S/truth.png" | tr '\n' ' ')" no_stray_pictures
  keys 0xff1b  # Escape whatever is left
  permission delete

  # Refused in the dialog, then refused by the stored answer.
  probe_answered "$S/refused.png" 0xff1b
  # The portal answers a refusal, given or stored, with response 2 (as any
  # other failure), not 1: the library takes any nonzero response as a no.
  check "gnome refused (dialog)" "$probe" test "$(field result "$probe")" = 0
  check "gnome refused (dialog): EACCES" "$probe" \
    test "$(field errno "$probe")" = EACCES
  probe "$S/refused2.png" "${W[@]}"
  check "gnome refused (stored): at once" "$probe" \
    test "$(field result "$probe")" = 0 -a "$(field ms "$probe")" -lt 1000
  check "gnome refused (stored): EACCES" "$probe" \
    test "$(field errno "$probe")" = EACCES
  permission delete

  # Granted in the dialog, then by the stored grant as the docs give it.
  probe_answered "$S/allowed.png" 0xff09 0xff0d
  check "gnome granted (dialog)" "$probe; $(same "$S/truth.png" "$S/allowed.png" 2>&1)" \
    same "$S/truth.png" "$S/allowed.png"
  permission delete
  # The grant exactly as docs/wayland-screen.md gives it.
  local grant
  grant=$(awk '/^```sh/{b="";next} /^```/{if(b~/SetPermission/)print b;b="";next} {b=b $0 "\n"}' \
    docs/wayland-screen.md | head -c 2000)
  as_user "${W[@]}" sh -c "$(printf '%b' "$grant")" >/dev/null
  probe "$S/granted.png" "${W[@]}"
  check "gnome granted (stored)" "$probe; $(same "$S/truth.png" "$S/granted.png" 2>&1)" \
    same "$S/truth.png" "$S/granted.png"

  # An X program: DISPLAY alone.
  probe "$S/xwayland.png" DISPLAY="$display"
  check "gnome Xwayland, DISPLAY only" "$probe; $(same "$S/truth.png" "$S/xwayland.png" 2>&1)" \
    same "$S/truth.png" "$S/xwayland.png"
  probe "$S/xwayland-none.png" DISPLAY="$display" XDG_RUNTIME_DIR=/nonexistent
  check "gnome Xwayland, no compositor reachable" "$probe" \
    test "$(field errno "$probe")" = ENODEV -a ! -e "$S/xwayland-none.png"
}

run_kde() {
  new_session kde
  # KDE's portal backend writes its picture into ~/Pictures.
  as_user mkdir -p "$S/home/Pictures"
  start_buses KDE
  # kwin_wayland carries a file capability that a container cannot grant:
  # a copy without it runs.
  cp /usr/bin/kwin_wayland "$work/kwin_wayland"
  chmod 755 "$work/kwin_wayland"
  local t0
  t0=$(date +%s%N)
  started "$S/kwin.log" QT_QPA_PLATFORM=wayland KDE_FULL_SESSION=true \
    KDE_SESSION_VERSION=5 "$work/kwin_wayland" --virtual --width 1280 --height 720 \
    --socket wayland-0 --no-lockscreen --xwayland
  for _ in $(seq 300); do [ -S "$S/run/wayland-0" ] && break; sleep 0.1; done
  local display=
  for _ in $(seq 100); do
    display=$(new_x_display)
    [ -n "$display" ] && break
    sleep 0.1
  done
  echo "kde: $("$work/kwin_wayland" --version 2>/dev/null), kwin up in $(ms_since "$t0") ms (Xwayland $display)"
  local W=(WAYLAND_DISPLAY=wayland-0 QT_QPA_PLATFORM=wayland)
  check "kde picture shown" "fullscreen client" show_picture
  # The pointer appears once KDE's portal backend has started (at the first
  # portal call): the truth is taken after kestrel's call.
  probe "$S/granted.png" "${W[@]}"
  t0=$(date +%s%N)
  as_user "${W[@]}" spectacle -b -n -f -p -o "$S/truth.png" >/dev/null 2>&1
  echo "kde: spectacle took $(ms_since "$t0") ms"
  check "kde granted (no dialog)" "$probe; $(same "$S/truth.png" "$S/granted.png" 2>&1)" \
    same "$S/truth.png" "$S/granted.png"
  probe "$S/granted2.png" "${W[@]}"
  check "kde granted, second call" "$probe; $(same "$S/truth.png" "$S/granted2.png" 2>&1)" \
    same "$S/truth.png" "$S/granted2.png"
  # Without ~/Pictures the backend answers "cancelled".
  as_user rmdir "$S/home/Pictures"
  probe "$S/no-pictures.png" "${W[@]}"
  check "kde refused (no ~/Pictures)" "$probe" test "$(field result "$probe")" = 0
  as_user mkdir -p "$S/home/Pictures"
  if [ -n "$display" ]; then
    probe "$S/xwayland.png" DISPLAY="$display"
    check "kde Xwayland, DISPLAY only" "$probe; $(same "$S/truth.png" "$S/xwayland.png" 2>&1)" \
      same "$S/truth.png" "$S/xwayland.png"
  else
    check "kde Xwayland, DISPLAY only" "Xwayland's display not found in kwin's log" false
  fi
}

for d in "${desktops[@]}"; do
  begin=$(date +%s)
  "run_$d"
  echo "$d: $(( $(date +%s) - begin )) s"
  end_groups
done
echo "desktops: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
