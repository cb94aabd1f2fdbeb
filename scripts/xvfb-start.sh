#!/bin/sh
# Starts a private Xvfb on a free display number and prints "DISPLAY PID"
# (for example ":3 12345") once it accepts connections.
# usage: xvfb-start.sh [GEOMETRY [EXTRA XVFB ARGS...]]   GEOMETRY: WxHxDEPTH
set -eu
geometry=${1:-1280x800x24}
[ $# -gt 0 ] && shift
command -v Xvfb >/dev/null 2>&1 || { echo "xvfb-start: Xvfb is not installed" >&2; exit 1; }
numfile=$(mktemp)
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "$geometry" "$@" \
  3>"$numfile" >/dev/null 2>&1 </dev/null &
pid=$!
tries=0
while :; do
  num=$(tr -dc '0-9' <"$numfile")
  if [ -n "$num" ]; then break; fi
  if ! kill -0 "$pid" 2>/dev/null || [ "$tries" -ge 150 ]; then
    kill "$pid" 2>/dev/null || true
    rm -f "$numfile"
    echo "xvfb-start: Xvfb did not come up" >&2
    exit 1
  fi
  tries=$((tries + 1))
  sleep 0.1
done
rm -f "$numfile"
echo ":$num $pid"
