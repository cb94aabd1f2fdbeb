// Calls made after the library's unload-time cleanup, from a host's global
// destructor or atexit handler: each works or returns 0, and the host ends
// normally.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

#include "emulation.h"
#include "images.h"
#include "test_support.h"
#include "x_scene.h"
#include "xvfb_fixture.h"

namespace {

std::string BuildDir() {
  const char *dir = getenv("KESTREL_BUILD_DIR");
  return dir ? dir : ".";
}

class LateCalls : public ::testing::TestWithParam<const char *> {};

TEST_P(LateCalls, AfterUnloadCleanupWorkOrFailCleanly) {
  // Screen-sized sections are big enough to be kept between calls.
  ktest::Xvfb server;
  ASSERT_TRUE(server.Start("800x600x24"));
  ktest::ServerImage drawn;
  ASSERT_TRUE(ktest::DrawScene(server.name(), 9, &drawn));
  ktest::TempDir dir;
  // A freed block written or freed again does not always crash at once:
  // valgrind (when installed; the sanitizers in their own build) tells.
  // Under an emulator the ARM host is started through it, unchecked.
#ifdef KESTREL_SANITIZED
  const std::string checker = ktest::EmulatorPrefix();
#else
  const std::string checker =
      ktest::UnderEmulation() ? ktest::EmulatorPrefix()
      : system("command -v valgrind >/dev/null") == 0
          ? "valgrind --quiet --error-exitcode=9 --trace-children=no "
          : "";
#endif
  const std::string cmd = "DISPLAY=" + server.name() + " exec " + checker +
                          BuildDir() + "/tests/faults/late_call_host " +
                          BuildDir() + "/libKestrel.so " + dir.path() + " " +
                          GetParam() + " >" + dir.File("out") + " 2>&1";
  const int status = system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "9: valgrind found an error";
  const std::vector<uint8_t> out = ktest::ReadFile(dir.File("out"));
  EXPECT_EQ(std::string(out.begin(), out.end()), "");
  const std::vector<uint8_t> text = ktest::ReadFile(dir.File("results"));
  int first = -1, late1 = -1, late2 = -1;
  ASSERT_EQ(sscanf(std::string(text.begin(), text.end()).c_str(), "%d %d %d",
                   &first, &late1, &late2),
            3);
  EXPECT_EQ(first, 1);
  EXPECT_TRUE(late1 == 0 || late1 == 1) << late1;
  EXPECT_TRUE(late2 == 0 || late2 == 1) << late2;
  ktest::Image a, b;
  ASSERT_TRUE(ktest::DecodePng(dir.File("first.png"), &a));
  if (late1 == 1) {
    ASSERT_TRUE(ktest::DecodePng(dir.File("late1.png"), &b));
    EXPECT_TRUE(a.rgb == b.rgb);
  }
  if (late2 == 1) {
    EXPECT_TRUE(ktest::DecodeJpeg(dir.File("late2.jpg"), &b));
  }
}

INSTANTIATE_TEST_SUITE_P(Hosts, LateCalls,
                         ::testing::Values("global", "atexit"));

}  // namespace
