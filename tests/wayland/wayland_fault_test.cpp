// The Wayland screen when the compositor goes away, stops answering,
// refuses a frame or changes its outputs; forks; WAYLAND_DISPLAY changes.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "backends.h"
#include "kestrel_testing.h"
#include "sway_test_fixture.h"
#include "test_support.h"
#include "wincrt.h"

namespace ktest {
namespace {

using Clock = std::chrono::steady_clock;

int ElapsedMs(Clock::time_point since) {
  return int(std::chrono::duration_cast<std::chrono::milliseconds>(
                 Clock::now() - since)
                 .count());
}

class WaylandFaultTest : public SwayTest {
 protected:
  void SetUp() override {
    SwayTest::SetUp();
    // A write to a vanished compositor must not raise SIGPIPE: with the
    // default action it would end this test process.
    signal(SIGPIPE, SIG_DFL);
  }
};

TEST_F(WaylandFaultTest, CompositorKilledBetweenCallsThenANewOneServes) {
  StartSway();
  Capture capture;
  ASSERT_TRUE(CaptureWayland(&capture));
  sway_.Kill();
  const int fds = CountOpenFds();
  EXPECT_FALSE(CaptureWayland(&capture));
  EXPECT_EQ(CountOpenFds(), fds);

  StartSway({"output HEADLESS-1 mode 320x240"});
  ASSERT_TRUE(CaptureWayland(&capture));
  EXPECT_EQ(capture.frame.width, 320);
  EXPECT_EQ(capture.frame.height, 240);
}

TEST_F(WaylandFaultTest, CompositorKilledBetweenOpenAndFrameFailsQuietly) {
  StartSway();
  const int fds = CountOpenFds();
  kplat::Display *display = kplat::kWaylandBackend.open();
  ASSERT_NE(display, nullptr);
  sway_.Kill();
  // The capture requests go to a closed socket.
  kplat::Frame frame;
  EXPECT_FALSE(display->BeginFrame(&frame));
  display->EndFrame();
  EXPECT_EQ(CountOpenFds(), fds);
}

TEST_F(WaylandFaultTest, CompositorKilledWhileAnsweringFailsWithinTheBound) {
  StartSway();
  sway_.Freeze();
  std::thread killer([this] {
    Pause(300);
    sway_.Kill();
  });
  const auto start = Clock::now();
  Capture capture;
  EXPECT_FALSE(CaptureWayland(&capture));
  EXPECT_LT(ElapsedMs(start), 1500);  // ended by the hang-up, not the bound
  killer.join();
}

TEST_F(WaylandFaultTest, FrozenCompositorIsGivenUpOnAfterTheBound) {
  StartSway();
  sway_.Freeze();
  const auto start = Clock::now();
  Capture capture;
  _clear_call_errno();
  EXPECT_FALSE(CaptureWayland(&capture));
  EXPECT_EQ(_get_call_errno(), ETIMEDOUT);  // what SnapShot's errno says
  const int elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 1900);
  EXPECT_LT(elapsed, 5000);
  sway_.Thaw();
  EXPECT_TRUE(CaptureWayland(&capture));
}

// wlroots answers a buffer of the wrong size with a protocol error, which
// ends the connection in the middle of the capture.
TEST_F(WaylandFaultTest, RefusedCopyFailsTheFrameQuietlyAndTheNextCallServes) {
  StartSway();
  AddSecondOutput("mode 320x240 position 640 0");
  const int fds = CountOpenFds();
  KTestResetFaults();
  KTestFailNth(KTEST_OP_WAYLAND_COPY, 2);  // the second output's
  Capture capture;
  OutputCapture output;
  EXPECT_FALSE(CaptureWayland(&capture));
  EXPECT_EQ(output.Stop(), "");
  EXPECT_EQ(KTestCallCount(KTEST_OP_WAYLAND_COPY), 2u);
  EXPECT_EQ(CountOpenFds(), fds);
  ASSERT_TRUE(CaptureWayland(&capture));
  EXPECT_EQ(capture.frame.width, 960);
  KTestResetFaults();
}

// sway 1.7 cannot take a headless output away (disabling one fails to
// commit), so removal is followed across a restart of the compositor.
TEST_F(WaylandFaultTest, OutputsAddedAndRemovedBetweenCallsAreFollowed) {
  StartSway();
  Capture capture;
  ASSERT_TRUE(CaptureWayland(&capture));
  EXPECT_EQ(capture.frame.width, 640);
  AddSecondOutput("mode 320x240 position 640 0");
  ASSERT_TRUE(CaptureWayland(&capture));
  EXPECT_EQ(capture.frame.width, 960);
  EXPECT_EQ(capture.frame.height, 480);
  sway_.Stop();
  StartSway({"output HEADLESS-1 mode 320x240"});
  ASSERT_TRUE(CaptureWayland(&capture));
  EXPECT_EQ(capture.frame.width, 320);
  EXPECT_EQ(capture.frame.height, 240);
}

TEST_F(WaylandFaultTest, ForkedChildTakesItsOwnPicture) {
  StartSway();
  const Image pattern = ShowPattern(11);
  // The parent holds a connection when it forks.
  kplat::Display *display = kplat::kWaylandBackend.open();
  ASSERT_NE(display, nullptr);
  const pid_t child = fork();
  if (child == 0) {
    kplat::Frame frame;
    Capture capture;
    const bool ok = display->BeginFrame(&frame) && frame.width == 640;
    display->EndFrame();
    _exit(ok && CaptureWayland(&capture) &&
                  FirstDifference(capture.image, pattern).empty()
              ? 0
              : 1);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  kplat::Frame frame;
  EXPECT_TRUE(display->BeginFrame(&frame));
  display->EndFrame();
  Capture capture;
  ASSERT_TRUE(CaptureWayland(&capture));
  EXPECT_EQ(FirstDifference(capture.image, pattern), "");
}

TEST_F(WaylandFaultTest, WaylandDisplayIsReadAtEveryCall) {
  StartSway();
  const Image first = ShowPattern(12);
  Compositor other;
  ASSERT_TRUE(other.Start({"output HEADLESS-1 mode 320x240 position 0 0"}));
  other.Use();
  Capture capture;
  ASSERT_TRUE(CaptureWayland(&capture));
  EXPECT_EQ(capture.frame.width, 320);
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_EQ(kplat::kWaylandBackend.open(), nullptr);
  sway_.Use();
  ASSERT_TRUE(CaptureWayland(&capture));
  EXPECT_EQ(FirstDifference(capture.image, first), "");
}

TEST(WaylandWithoutScreencopy, WestonIsNotServed) {
  if (!HaveProgram("weston")) GTEST_SKIP() << "needs weston";
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  Compositor weston(Compositor::Kind::kWeston);
  ASSERT_TRUE(weston.Start()) << "weston did not start";
  weston.Use();
  const int fds = CountOpenFds();
  EXPECT_EQ(kplat::kWaylandBackend.open(), nullptr);
  EXPECT_EQ(CountOpenFds(), fds);
}

}  // namespace
}  // namespace ktest
