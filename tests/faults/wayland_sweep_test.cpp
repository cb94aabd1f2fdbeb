// The fault sweep on a Wayland screen: every platform call of a capture on
// headless sway failed in turn, the Wayland screen's own (the output's
// copy, the compositor's answer) among them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "display.h"
#include "kestrel_testing.h"
#include "sway_test_fixture.h"
#include "sweep.h"
#include "test_support.h"

namespace ktest {
namespace {

class WaylandSweepTest : public SwayTest {
 protected:
  void SetUp() override {
    SwayTest::SetUp();
    unsetenv("DISPLAY");
    kplat::CloseDisplays();
  }
  void TearDown() override {
    kplat::CloseDisplays();
    KTestResetFaults();
    SwayTest::TearDown();
  }
  TempDir dir_;
};

TEST_F(WaylandSweepTest, EveryFailedPlatformCallEndsCleanly) {
  StartSway();
  ShowPattern(41);  // the sweep needs one picture throughout
  OutputCapture out;
  const int fds = CountOpenFds();
  KTestResetFaults();
  const kfault::SweepStats png = kfault::SweepCapture(dir_.path(), "w.png", 0);
  const kfault::SweepStats jpeg =
      kfault::SweepCapture(dir_.path(), "w.jpg", 80);
  EXPECT_GT(png.faultedCalls, 10u);
  EXPECT_GT(jpeg.faultedCalls, 10u);
  EXPECT_LT(png.succeeded * 2, png.faultedCalls);
  EXPECT_LT(jpeg.succeeded * 2, jpeg.faultedCalls);
  kplat::CloseDisplays();
  EXPECT_EQ(CountOpenFds(), fds);
  EXPECT_EQ(out.Stop(), "");
}

}  // namespace
}  // namespace ktest
