// The desktop portal's Screenshot on a private session bus: sway with
// xdg-desktop-portal-wlr answers without a dialog, and the picture must be
// the compositor's own; a portal without Screenshot serves nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "backends.h"
#include "kestrel_testing.h"
#include "portal_screenshot.h"
#include "session_bus.h"
#include "sway_test_fixture.h"
#include "test_support.h"

namespace ktest {
namespace {

using kplat::wl::DeadlineIn;

bool HavePortal() {
  return HaveProgram("dbus-daemon") && HaveProgram("pipewire") &&
         access("/usr/libexec/xdg-desktop-portal", X_OK) == 0 &&
         access("/usr/libexec/xdg-desktop-portal-wlr", X_OK) == 0 &&
         access("/usr/libexec/xdg-desktop-portal-gtk", X_OK) == 0;
}

class PortalTest : public SwayTest {
 protected:
  void SetUp() override {
    SwayTest::SetUp();
    if (IsSkipped()) return;
    if (!HavePortal())
      GTEST_SKIP() << "needs dbus, pipewire, xdg-desktop-portal, -wlr and "
                      "-gtk";
  }
  void TearDown() override {
    bus_.Stop();
    SwayTest::TearDown();
  }

  // Starts the bus (its and its services' messages go to a log shown when
  // a test fails) and the portal on it. On a loaded machine the portal has
  // been seen to take over 25 s to start (one of its own calls timing
  // out), which is not what these tests measure.
  bool StartBus() {
    if (!bus_.Start("sway", logs_.File("bus.log"))) return false;
    bus_.Use();
    const auto start = std::chrono::steady_clock::now();
    kplat::wl::Portal portal;
    if (kplat::wl::OpenPortal(&portal, DeadlineIn(60000)))
      kplat::wl::ClosePortal(&portal);
    RecordProperty(
        "portal_start_ms",
        std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count()));
    return true;
  }
  std::string BusLog() {
    const std::vector<uint8_t> bytes = ReadFile(logs_.File("bus.log"));
    return std::string(bytes.begin(), bytes.end());
  }

  SessionBus bus_;
  TempDir logs_;
};

TEST_F(PortalTest, NonInteractiveScreenshotIsTheCompositorsPicture) {
  StartSway();
  const Image pattern = ShowPattern(21);
  ASSERT_TRUE(StartBus());

  kplat::wl::Portal portal;
  ASSERT_TRUE(kplat::wl::OpenPortal(&portal, DeadlineIn(10000))) << BusLog();
  const auto start = std::chrono::steady_clock::now();
  kplat::wl::Picture picture;
  const bool taken =
      kplat::wl::PortalScreenshot(&portal, DeadlineIn(10000), &picture);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  kplat::wl::ClosePortal(&portal);
  ASSERT_TRUE(taken) << BusLog();
  RecordProperty("portal_ms", std::to_string(ms));
  EXPECT_EQ(
      FirstDifference(RgbImage(picture.width, picture.height, picture.format,
                               picture.pixels, picture.stride),
                      pattern),
      "");
  kplat::wl::FreePicture(&picture);
  // xdg-desktop-portal-wlr leaves its picture there; it is read and gone.
  EXPECT_FALSE(FileExists("/tmp/out.png"));
}

// The screen as a desktop without screencopy serves it: sway's capture
// protocol is passed over, so the frame's picture is the portal's.
TEST_F(PortalTest, ScreenServedThroughThePortalIsTheCompositorsPicture) {
  StartSway();
  const Image pattern = ShowPattern(22);
  ASSERT_TRUE(StartBus());
  KTestResetFaults();
  KTestFailNth(KTEST_OP_WAYLAND_CAPTURE, 1);
  const int fds = CountOpenFds();
  OutputCapture output;
  kplat::Display *display = kplat::kWaylandBackend.open();
  Capture capture;
  const bool began = display && display->BeginFrame(&capture.frame);
  std::vector<uint8_t> pixels;
  bool read = false;
  if (began) {
    const kplat::Frame &frame = capture.frame;
    const size_t stride = size_t(frame.width) * 4;
    pixels.resize(stride * size_t(frame.height));
    read = frame.format.bitsPerPixel == 32 &&
           display->ReadPixels(frame, 0, 0, frame.width, frame.height,
                               pixels.data(), ptrdiff_t(stride));
    display->EndFrame();
  }
  kplat::kWaylandBackend.close();
  KTestResetFaults();
  EXPECT_EQ(output.Stop(), "");
  ASSERT_NE(display, nullptr);
  ASSERT_TRUE(began) << BusLog();
  ASSERT_TRUE(read);
  EXPECT_EQ(FirstDifference(RgbImage(capture.frame.width, capture.frame.height,
                                     capture.frame.format, pixels.data(),
                                     size_t(capture.frame.width) * 4),
                            pattern),
            "");
  EXPECT_EQ(CountOpenFds(), fds);
}

TEST_F(PortalTest, PortalWithoutScreenshotLeavesTheScreenUnserved) {
  // weston offers no screencopy, so the screen would go to the portal; but
  // the wlroots portal backend cannot start on weston, and the portal then
  // offers no Screenshot.
  if (!HaveProgram("weston")) GTEST_SKIP() << "needs weston";
  Compositor weston(Compositor::Kind::kWeston);
  ASSERT_TRUE(weston.Start());
  weston.Use();
  ASSERT_TRUE(StartBus());
  const int fds = CountOpenFds();
  OutputCapture output;
  const auto start = std::chrono::steady_clock::now();
  kplat::Display *display = kplat::kWaylandBackend.open();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(output.Stop(), "");
  EXPECT_EQ(display, nullptr);
  EXPECT_LT(elapsed, std::chrono::seconds(10));
  EXPECT_EQ(CountOpenFds(), fds);
  // The portal's services use weston's runtime folder, which goes with it.
  bus_.Stop();
}

}  // namespace
}  // namespace ktest
