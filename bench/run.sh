#!/usr/bin/env bash
# The benchmark, in one command, on a Debian 12 machine (root or sudo):
#   bench/run.sh [RUNS]         (default 15 rounds per comparison)
#   KESTREL_BEFORE=DIR bench/run.sh   also measures the build in DIR (a
#                                     build folder of another version)
#                                     beside this one, in the same rounds
# Installs the peers from Debian's archive, builds the benchmarks, starts a
# private Xvfb per screen, draws the fixed scene on it, and compares whole
# processes paired and alternating (bench/alternate.py), then in process;
# then the same scene on headless sway beside grim, and what each program
# loads at start. The load average is printed with every table.
# bench/README.md says what each line means.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-15}
before=${KESTREL_BEFORE:-}

scripts/deps.sh scrot maim imagemagick ffmpeg hyperfine python3
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTREL_BUILD_BENCH=ON \
  -DKESTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
snap="$PWD/$build/kestrel-snap"
lib="$PWD/$build/libKestrel.so"
have_x11=0
grep -q "^KESTREL_WITH_X11:BOOL=ON" "$build/CMakeCache.txt" && have_x11=1
have_wayland=0
grep -q "^KESTREL_WITH_WAYLAND:BOOL=ON" "$build/CMakeCache.txt" && have_wayland=1
# The other build's kestrel-snap runs on its own library.
before_snap=""
if [ -n "$before" ]; then
  before=$(cd "$before" && pwd)
  before_snap="env LD_LIBRARY_PATH=$before $before/kestrel-snap"
fi

out=$(mktemp -d /tmp/kestrel-bench.XXXXXX)
chmod 755 "$out"
xvfb_pid=""
sway_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -n "$sway_pid" ] && kill "$sway_pid" 2>/dev/null || true
  rm -rf "$out"
}
trap cleanup EXIT

load() { echo "# load average $(cut -d' ' -f1-3 /proc/loadavg)"; }
alternate() { python3 bench/alternate.py "$@"; }

# One X screen: WxHxD. Leaves the scene as $out/scene-WxH.png for sway.
bench_screen() {
  local geometry=$1 w h
  w=${geometry%%x*}
  h=${geometry#*x}; h=${h%%x*}
  local display=:$((90 + RANDOM % 100))
  # -noreset: the drawn scene must outlive the drawing client.
  Xvfb "$display" -screen 0 "$geometry" -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    DISPLAY=$display "$build/bench/kestrel_draw_scene" 2>/dev/null && break
    sleep 0.1
  done
  export DISPLAY=$display
  local f=$out/x
  # Paired with env as the other build's line is, so that both pay for it.
  local -a cmds=()
  local -a pairs=()
  if [ "$have_x11" = 1 ]; then
    cmds+=("kestrel-snap.jpg=env $snap -q 75 $f.k.jpg"
           "kestrel-snap.png=env $snap $f.k.png")
    pairs+=(--pair kestrel-snap.jpg/scrot.jpg --pair kestrel-snap.png/scrot.png)
    if [ -n "$before_snap" ]; then
      cmds+=("before.jpg=$before_snap -q 75 $f.b.jpg"
             "before.png=$before_snap $f.b.png")
      pairs+=(--pair before.jpg/scrot.jpg --pair kestrel-snap.jpg/before.jpg
              --pair before.png/scrot.png --pair kestrel-snap.png/before.png)
    fi
  fi
  cmds+=("scrot.jpg=env scrot -o -q 75 $f.s.jpg"
         "scrot.png=env scrot -o $f.s.png"
         "maim.jpg=env maim -f jpg -m 8 $f.m.jpg"
         "maim.png=env maim -f png $f.m.png"
         "import.jpg=env import -window root -quality 75 $f.i.jpg"
         "import.png=env import -window root $f.i.png"
         "ffmpeg.jpg=env ffmpeg -loglevel error -y -f x11grab -video_size ${w}x${h} -i $display -frames:v 1 -q:v 4 $f.f.jpg"
         "ffmpeg.png=env ffmpeg -loglevel error -y -f x11grab -video_size ${w}x${h} -i $display -frames:v 1 $f.f.png")
  echo "## $geometry: whole process, paired and alternating"
  alternate "$runs" "${pairs[@]}" "${cmds[@]}"
  echo "# bytes: $(cd "$out" && for x in x.*.jpg x.*.png; do printf '%s %s  ' "$x" "$(stat -c %s "$x")"; done)"
  [ "$have_x11" = 1 ] && cmp -s "$f.k.jpg" "$f.s.jpg" && echo "# kestrel-snap's JPEG is byte-identical to scrot's"
  [ "$have_x11" = 1 ] && cp "$f.k.png" "$out/scene-${w}x${h}.png"
  # One capture now and then: an idle machine between runs. Under a
  # hypervisor that takes back free memory, fresh memory then costs more.
  if [ "$have_x11" = 1 ] && [ "$w" -ge 1920 ]; then
    local -a gapped=("kestrel-snap.jpg=env $snap -q 75 $f.k.jpg"
                     "scrot.jpg=env scrot -o -q 75 $f.s.jpg")
    local -a gpairs=(--pair kestrel-snap.jpg/scrot.jpg)
    if [ -n "$before_snap" ]; then
      gapped+=("before.jpg=$before_snap -q 75 $f.b.jpg")
      gpairs+=(--pair before.jpg/scrot.jpg --pair kestrel-snap.jpg/before.jpg)
    fi
    echo "## $geometry: JPEG, whole process, 2 s idle before each run"
    alternate $(((runs + 1) / 2)) --gap 2 "${gpairs[@]}" "${gapped[@]}"
  fi
  echo "## objects loaded and relocations at start (LD_DEBUG=statistics)"
  [ "$have_x11" = 1 ] && start_stats kestrel-snap "" "$snap" -q 75 "$f.t.jpg"
  [ -n "$before" ] && start_stats before "$before" "$before/kestrel-snap" -q 75 "$f.t.jpg"
  start_stats scrot "" scrot -o -q 75 "$f.t.jpg"

  local depth=${geometry##*x} where=""
  [ "$have_x11" = 1 ] && where="--x11"
  [ "$depth" = 24 ] || [ "$depth" = 16 ] || depth=24
  echo "## $geometry: in process"
  load
  "$build/bench/kestrel_phases" $where --size "${w}x${h}" --depth "$depth" \
    --runs "$runs" --dir "$out"
  # Faults and processor time per call, measured before the harness
  # allocates anything; then as a host that loads the library sees them.
  "$build/bench/kestrel_phases" $where --size "${w}x${h}" --depth "$depth" \
    --runs $((runs * 4)) --dir "$out" --faults jpeg
  if [ "$have_x11" = 1 ]; then
    echo "host calls, this build: $("$build/bench/kestrel_host_calls" "$lib" "$f.h.jpg" 75 $((runs * 4)))"
    [ -n "$before" ] &&
      echo "host calls, before:     $("$build/bench/kestrel_host_calls" "$before/libKestrel.so" "$f.h.jpg" 75 $((runs * 4)))"
  fi
  "$build/bench/kestrel_phases" $where --size "${w}x${h}" --depth "$depth" \
    --dir "$out" --rss jpeg
  "$build/bench/kestrel_phases" $where --size "${w}x${h}" --depth "$depth" \
    --dir "$out" --rss png
  kill "$xvfb_pid"
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
  unset DISPLAY
}

# Headless sway at WxH showing the scene drawn on the X screen of that size.
bench_sway() {
  local w=$1 h=$2
  local scene=$out/scene-${w}x${h}.png
  [ -f "$scene" ] || return 0
  local dir=$out/sway-${w}x${h}
  mkdir -p "$dir"
  chmod 644 "$scene"
  printf 'xwayland disable\noutput HEADLESS-1 mode %dx%d bg %s stretch\n' \
    "$w" "$h" "$scene" >"$dir/config"
  # sway refuses to run as root: an unprivileged user, as in the tests.
  local -a as=()
  if [ "$(id -u)" = 0 ]; then
    chown 4711:4711 "$dir"
    as=(setpriv --reuid=4711 --regid=4711 --clear-groups)
  fi
  env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$dir" HOME="$dir" \
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    "${as[@]}" sway -c "$dir/config" >"$dir/log" 2>&1 &
  sway_pid=$!
  export XDG_RUNTIME_DIR=$dir WAYLAND_DISPLAY=wayland-1
  for _ in $(seq 100); do
    [ -S "$dir/wayland-1" ] && grim "$out/g.png" 2>/dev/null &&
      cmp -s <(env "$snap" - 2>/dev/null) "$out/g.png" && break
    sleep 0.1
  done
  local f=$out/w
  local -a cmds=("kestrel-snap.png=env $snap $f.k.png"
                 "grim.png=env grim $f.g.png")
  local -a pairs=(--pair kestrel-snap.png/grim.png)
  if [ -n "$before_snap" ]; then
    cmds+=("before.png=$before_snap $f.b.png")
    pairs+=(--pair before.png/grim.png --pair kestrel-snap.png/before.png)
  fi
  echo "## ${w}x${h} on headless sway: whole process, paired and alternating"
  alternate "$runs" "${pairs[@]}" "${cmds[@]}"
  cmp -s "$f.k.png" "$f.g.png" && echo "# kestrel-snap's PNG is byte-identical to grim's"
  echo "## objects loaded and relocations at start (LD_DEBUG=statistics)"
  start_stats kestrel-snap "" "$snap" "$f.s.png"
  [ -n "$before" ] && start_stats before "$before" "$before/kestrel-snap" "$f.s.png"
  start_stats grim "" grim "$f.s.png"
  kill "$sway_pid"
  wait "$sway_pid" 2>/dev/null || true
  sway_pid=""
  unset XDG_RUNTIME_DIR WAYLAND_DISPLAY
}

# NAME LIBDIR PROGRAM ARGS...: the objects the loader brings in for the
# program (its library from LIBDIR when given) and its relocations.
start_stats() {
  local name=$1 libdir=$2
  shift 2
  local -a env=(env)
  [ -n "$libdir" ] && env+=("LD_LIBRARY_PATH=$libdir")
  local objects relocs
  objects=$("${env[@]}" LD_TRACE_LOADED_OBJECTS=1 "$@" 2>/dev/null | wc -l)
  relocs=$("${env[@]}" LD_DEBUG=statistics "$@" 2>&1 >/dev/null |
    awk '/ number of relocations:/ {print $NF; exit}')
  echo "$name: $objects objects, $relocs relocations"
}

echo "# $(date -u +'%F %H:%M') UTC $(uname -srm), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(nproc) CPUs"
load
for geometry in 240x320x16 1920x1080x24 3840x2160x24; do
  bench_screen "$geometry"
done
if [ "$have_wayland" = 1 ] && command -v sway >/dev/null && command -v grim >/dev/null; then
  bench_sway 1920 1080
  bench_sway 3840 2160
fi
echo "## kernels (bytes written per second)"
load
"$build/bench/kestrel_kernels_bench" --benchmark_min_time=0.2 2>/dev/null |
  awk '/^(BM_|Convert|Pack)/ {print $1, $NF}'
