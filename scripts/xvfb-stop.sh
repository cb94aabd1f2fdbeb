#!/bin/sh
# Stops an Xvfb started by xvfb-start.sh, by its pid.
# usage: xvfb-stop.sh PID
set -u
pid=${1:?usage: xvfb-stop.sh PID}
kill "$pid" 2>/dev/null || exit 0
i=0
while kill -0 "$pid" 2>/dev/null; do
  i=$((i + 1))
  if [ "$i" -ge 50 ]; then kill -9 "$pid" 2>/dev/null; break; fi
  sleep 0.1
done
exit 0
