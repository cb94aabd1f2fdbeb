#!/usr/bin/env bash
# The benchmark, in one command, on a Debian 12 machine (root or sudo):
#   bench/run.sh [RUNS]         (default 15 runs per command)
# Installs the peers from Debian's archive, builds the benchmarks, starts a
# private Xvfb per screen, draws the fixed scene on it, and times every
# command run by run, interleaved. Prints one table; bench/README.md says
# what each line means.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-15}

scripts/deps.sh scrot maim imagemagick ffmpeg
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTREL_BUILD_BENCH=ON \
  -DKESTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
snap="$build/kestrel-snap"
[ -x "$snap" ] || snap=""
have_x11=0
grep -q "^KESTREL_WITH_X11:BOOL=ON" "$build/CMakeCache.txt" && have_x11=1

out=$(mktemp -d /tmp/kestrel-bench.XXXXXX)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$out"
}
trap cleanup EXIT

median_min_max() {  # numbers on stdin -> "median min max"
  sort -g | awk '{v[NR]=$1} END {m = NR % 2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2;
    printf "%.1f %.1f %.1f", m, v[1], v[NR]}'
}

# One screen: name WxHxD.
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

  # name | command, with FILE standing for the output file.
  local -a names cmds exts
  add() { names+=("$1"); exts+=("$2"); cmds+=("$3"); }
  if [ -n "$snap" ]; then
    add kestrel-snap png "$snap FILE"
    add kestrel-snap jpg "$snap -q 75 FILE"
  fi
  add scrot png "scrot -o FILE"
  add scrot jpg "scrot -o -q 75 FILE"
  add maim png "maim -f png FILE"
  add maim jpg "maim -f jpg -m 8 FILE"
  add import png "import -window root FILE"
  add import jpg "import -window root -quality 75 FILE"
  add ffmpeg png "ffmpeg -loglevel error -y -f x11grab -video_size ${w}x${h} -i $display -frames:v 1 FILE"
  add ffmpeg jpg "ffmpeg -loglevel error -y -f x11grab -video_size ${w}x${h} -i $display -frames:v 1 -q:v 4 FILE"

  local i r t0 t1 cmd
  for ((r = 0; r < runs; ++r)); do
    for i in "${!cmds[@]}"; do
      local file="$out/$i.${exts[$i]}"
      cmd=${cmds[$i]//FILE/$file}
      t0=$EPOCHREALTIME
      $cmd >/dev/null 2>&1
      t1=$EPOCHREALTIME
      echo "$(( (${t1/./} - ${t0/./}) ))" >>"$out/times.$i"
    done
  done

  # The floor (encoder alone, in process) first: the table divides by it.
  local depth=${geometry##*x} where=""
  [ "$have_x11" = 1 ] && where="--x11"
  [ "$depth" = 24 ] || [ "$depth" = 16 ] || depth=24
  local phases
  phases=$("$build/bench/kestrel_phases" $where --size "${w}x${h}" \
    --depth "$depth" --runs "$runs" --dir "$out")
  local floor_jpg floor_png
  floor_jpg=$(awk '$1 == "floor_jpeg" {print $2}' <<<"$phases")
  floor_png=$(awk '$1 == "floor_png" {print $2}' <<<"$phases")

  echo "## $geometry (x fastest: to the fastest peer; x floor: to the encoder alone in process)"
  printf "%-13s %-4s %10s %17s %10s %9s %8s\n" tool fmt "median ms" "min-max ms" bytes "x fastest" "x floor"
  for ext in jpg png; do
    local best=""
    for i in "${!cmds[@]}"; do
      [ "${exts[$i]}" = "$ext" ] || continue
      [ "${names[$i]}" = kestrel-snap ] && continue
      local m
      m=$(awk '{print $1/1000}' "$out/times.$i" | median_min_max | cut -d' ' -f1)
      if [ -z "$best" ] || awk "BEGIN{exit !($m < $best)}"; then best=$m; fi
    done
    for i in "${!cmds[@]}"; do
      [ "${exts[$i]}" = "$ext" ] || continue
      local s m lo hi
      s=$(awk '{print $1/1000}' "$out/times.$i" | median_min_max)
      read -r m lo hi <<<"$s"
      local fl=$floor_png
      [ "$ext" = jpg ] && fl=$floor_jpg
      printf "%-13s %-4s %10s %17s %10s %9.2f %8.2f\n" "${names[$i]}" "$ext" "$m" \
        "$lo-$hi" "$(stat -c %s "$out/$i.$ext")" "$(awk "BEGIN{print $m / $best}")" \
        "$(awk "BEGIN{print $m / $fl}")"
    done
  done
  rm -f "$out"/times.*
  echo "$phases"

  # In-process calls, the floor and the phases, then peak memory.
  "$build/bench/kestrel_phases" $where --size "${w}x${h}" --depth "$depth" \
    --dir "$out" --rss jpeg
  "$build/bench/kestrel_phases" $where --size "${w}x${h}" --depth "$depth" \
    --dir "$out" --rss png
  kill "$xvfb_pid"
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
  unset DISPLAY
}

echo "# $(date -u +%F) $(uname -srm), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(nproc) CPUs"
for geometry in 1920x1080x24 3840x2160x24 240x320x16; do
  bench_screen "$geometry"
done
echo "## kernels (bytes written per second)"
"$build/bench/kestrel_kernels_bench" --benchmark_min_time=0.2 2>/dev/null |
  awk '/^(BM_|Convert|Pack)/ {print $1, $NF}'
