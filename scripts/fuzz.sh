#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer, library objects instrumented for coverage) in
# build-fuzz/ and runs each for a bounded time on its seed corpus.
#   scripts/fuzz.sh [seconds per target, default 30]
# New inputs go to a scratch folder, never into tests/fuzz/corpus/; a crash
# leaves its input in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"

scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTREL_SANITIZE=ON -DKESTREL_FUZZ=ON \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_bitblt fuzz_cstring_format fuzz_multibyte \
  fuzz_portal_answer fuzz_png_picture

mkdir -p build-fuzz/artifacts
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in fuzz_bitblt fuzz_cstring_format fuzz_multibyte fuzz_portal_answer \
              fuzz_png_picture; do
  work="$(mktemp -d)"
  echo "== $target (${seconds}s)"
  log="build-fuzz/$target.log"
  status=0
  build-fuzz/tests/fuzz/"$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/artifacts/"$target"- \
    "$work" tests/fuzz/corpus/"$target" >"$log" 2>&1 || status=$?
  grep -E '^(#[0-9]+ +DONE|SUMMARY|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
  rm -rf "$work"
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log"
    echo "$target failed (status $status); inputs in build-fuzz/artifacts/"
    exit 1
  fi
done
