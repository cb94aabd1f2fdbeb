// The fault tests' main: runs the tests with the C library's per-thread
// cache of freed blocks turned off. Blocks in that cache still count as in
// use, so with it on, the heap in use can grow by what a call frees into it
// and the heap checks would see leaks that are not there (or miss real
// ones). The setting is only read at start-up, hence the restart.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "emulation.h"

int main(int argc, char **argv) {
  const char kTunables[] = "glibc.malloc.tcache_count=0";
  const char *have = getenv("GLIBC_TUNABLES");
  if (have == nullptr || strcmp(have, kTunables) != 0) {
    setenv("GLIBC_TUNABLES", kTunables, 1);
    ktest::ExecSelf(argv);  // if it fails, run as we are
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
