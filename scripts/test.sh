#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs the whole suite.
#   scripts/test.sh              the suite on a normal build (build/)
#   scripts/test.sh --sanitize   the suite under AddressSanitizer and
#                                UndefinedBehaviorSanitizer (build-sanitize/)
#   scripts/test.sh --valgrind   a chosen subset under Valgrind's memcheck on
#                                the normal build: any error or leak fails
#   scripts/test.sh --soak       the long soak (10,000 captures) alone
# The default runs leave out the long soak (ctest label "soak").
set -euo pipefail
cd "$(dirname "$0")/.."

mode="${1:-}"
build=build
flags=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "$mode" = "--sanitize" ]; then
  build=build-sanitize
  flags=(-G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

scripts/deps.sh
cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
export KESTREL_BUILD_DIR="$PWD/$build"
cd "$build"

case "$mode" in
  --valgrind)
    # Each test executable that uses the system's allocator; the encoder
    # failure tests replace it and are left to the other runs.
    vg=(valgrind --quiet --error-exitcode=99 --leak-check=full
        --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect
        --child-silent-after-fork=yes --track-fds=no)
    export KESTREL_SOAK_CALLS=100
    # Set here, so the fault tests need not restart themselves outside
    # valgrind (tests/faults/main.cpp).
    export GLIBC_TUNABLES=glibc.malloc.tcache_count=0
    status=0
    for t in tests/faults/fault_sweep_tests tests/faults/fault_path_tests \
             tests/faults/fault_lifetime_tests tests/faults/fault_library_cycle_test \
             tests/faults/fault_xvfb_tests \
             tests/module/module_tests tests/platform_gdi/platform_gdi_tests \
             tests/platform_runtime/runtime_test tests/platform_runtime/runtime_app_test \
             tests/x11/x11_frame_test; do
      [ -x "$t" ] || continue
      # A forked child gives up the parent's X connection without freeing
      # it (freeing would shut the socket they share), and the shutdown
      # test's child keeps a bitmap whose handle the shutdown made invalid:
      # not run here.
      filter=-Screens/OnXvfb.ACallInAForkedChildWorks/*:Lifetime.ShutDownDetachesThenEndsScreensAndHandles
      echo "== valgrind $t"
      "${vg[@]}" "$t" --gtest_brief=1 --gtest_filter="$filter" ||
        { echo "FAILED under valgrind: $t"; status=1; }
    done
    exit "$status"
    ;;
  --soak)
    ctest --output-on-failure -j"$(nproc)" -L soak
    ;;
  *)
    ctest --output-on-failure -j"$(nproc)" --timeout 600 -LE soak
    ;;
esac
