// The whole library on headless sway: SnapShot's files hold exactly what the
// compositor shows, the Wayland screen is chosen before an X server (even
// Xwayland's), and a compositor it cannot read leaves the turn to X.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "display.h"
#include "fake_portal.h"
#include "kestrel/kestrel.h"
#include "session_bus.h"
#include "sway_test_fixture.h"
#include "test_support.h"
#include "xvfb_fixture.h"

namespace ktest {
namespace {

int Snap(const std::string &path, int quality) {
  return SnapShot(Utf16(path).c_str(), quality);
}

class WaylandSnapShotTest : public SwayTest {
 protected:
  void SetUp() override {
    SwayTest::SetUp();
    unsetenv("DISPLAY");
    kplat::CloseDisplays();
  }

  // Two outputs, the second turned, each showing a pattern of its own.
  Image ShowTwoOutputs() {
    StartSway();
    AddSecondOutput("mode 320x240 position 640 0 transform 90");
    const Image left = Pattern(640, 480, 31), right = Pattern(240, 320, 32);
    ShowImage("HEADLESS-1", left);
    ShowImage("HEADLESS-2", right);
    Image expected;
    expected.width = 880;
    expected.height = 480;
    expected.rgb.assign(size_t(880) * 480 * 3, 0);
    for (int y = 0; y < 480; ++y) {
      memcpy(&expected.rgb[size_t(y) * 880 * 3], &left.rgb[size_t(y) * 640 * 3],
             640 * 3);
      if (y < 320)
        memcpy(&expected.rgb[(size_t(y) * 880 + 640) * 3],
               &right.rgb[size_t(y) * 240 * 3], 240 * 3);
    }
    return expected;
  }

  TempDir dir_;
};

TEST_F(WaylandSnapShotTest, PngHoldsExactlyTheCompositorsPixels) {
  const Image expected = ShowTwoOutputs();
  ExpectScreen(expected);
  OutputCapture out;
  ASSERT_EQ(Snap(dir_.File("s.png"), 0), 1);
  EXPECT_EQ(out.Stop(), "");
  Image png;
  ASSERT_TRUE(DecodePng(dir_.File("s.png"), &png));
  EXPECT_EQ(FirstDifference(png, expected), "");
}

TEST_F(WaylandSnapShotTest, JpegIsWhatLibjpegMakesOfTheCompositorsPixels) {
  const Image expected = ShowTwoOutputs();
  ExpectScreen(expected);
  for (int quality : {75, 100}) {
    SCOPED_TRACE(quality);
    const std::string path = dir_.File("s" + std::to_string(quality) + ".jpg");
    ASSERT_EQ(Snap(path, quality), 1);
    EXPECT_TRUE(ReadFile(path) == EncodeJpegReference(expected, quality));
  }
}

TEST_F(WaylandSnapShotTest, CompositorGoneMeansNoFileAndTheNextCallServes) {
  StartSway();
  sway_.Kill();
  EXPECT_EQ(Snap(dir_.File("gone.png"), 0), 0);
  StartSway();
  const Image pattern = ShowPattern(33);
  ASSERT_EQ(Snap(dir_.File("back.png"), 0), 1);
  Image png;
  ASSERT_TRUE(DecodePng(dir_.File("back.png"), &png));
  EXPECT_EQ(FirstDifference(png, pattern), "");
}

// A rootless Xwayland on sway: its root window shows nothing of the
// desktop, so a picture of the pattern proves the Wayland screen served.
TEST_F(WaylandSnapShotTest, WaylandServesBeforeXwayland) {
  if (!HaveProgram("Xwayland")) GTEST_SKIP() << "needs Xwayland (xwayland)";
  StartSway();
  const Image pattern = ShowPattern(34);
  const int number = Xvfb::UnusedDisplayNumber();
  const std::string name = ":" + std::to_string(number);
  const pid_t xwayland = fork();
  if (xwayland == 0) {
    execlp("Xwayland", "Xwayland", name.c_str(), "-rootless", "-noreset",
           static_cast<char *>(nullptr));
    _exit(127);
  }
  ASSERT_GT(xwayland, 0);
  const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
  for (int i = 0; i < 200 && access(socket.c_str(), F_OK) != 0; ++i) Pause(50);
  const bool up = access(socket.c_str(), F_OK) == 0;
  setenv("DISPLAY", name.c_str(), 1);
  int result = 0;
  Image png;
  if (up) {
    result = Snap(dir_.File("both.png"), 0);
    DecodePng(dir_.File("both.png"), &png);
  }
  kplat::CloseDisplays();
  kill(xwayland, SIGTERM);
  waitpid(xwayland, nullptr, 0);
  ASSERT_TRUE(up) << "Xwayland did not start";
  ASSERT_EQ(result, 1);
  EXPECT_EQ(FirstDifference(png, pattern), "");
}

TEST(WaylandFallThrough, CompositorWithoutScreencopyLeavesTheTurnToX) {
  if (!HaveProgram("weston") || !HaveProgram("Xvfb"))
    GTEST_SKIP() << "needs weston and Xvfb";
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  Compositor weston(Compositor::Kind::kWeston);
  ASSERT_TRUE(weston.Start());
  weston.Use();
  Xvfb x;
  ASSERT_TRUE(x.Start("320x240x24"));
  setenv("DISPLAY", x.name().c_str(), 1);
  kplat::CloseDisplays();
  TempDir dir;
  ASSERT_EQ(Snap(dir.File("x.png"), 0), 1);
  kplat::CloseDisplays();
  Image png;
  ASSERT_TRUE(DecodePng(dir.File("x.png"), &png));
  EXPECT_EQ(png.width, 320);  // weston's screen is 640x480
  EXPECT_EQ(png.height, 240);
}

// weston has no screencopy, so the portal (the test's own) serves: each
// call asks it once, though the call begins two frames (the grab and the
// DIB section's GetDC), and the picture's file is read once and removed.
TEST(WaylandPortalSnapShot, EachCallMakesOneScreenshotRequest) {
  if (!HaveProgram("weston") || !HaveProgram("dbus-daemon"))
    GTEST_SKIP() << "needs weston and dbus-daemon";
  unsetenv("DISPLAY");
  Compositor weston(Compositor::Kind::kWeston);
  ASSERT_TRUE(weston.Start());
  weston.Use();
  TempDir dir;
  SessionBus bus;
  ASSERT_TRUE(bus.Start("none", dir.File("bus.log"), false));
  bus.Use();
  const Image image = Pattern(96, 64, 5);
  const std::string picture = dir.File("portal.png");
  PortalAnswer answer;
  answer.uri = FileUri(picture);
  FakePortal portal;
  ASSERT_TRUE(portal.Start(bus.address(), {answer}));
  kplat::CloseDisplays();
  for (int call = 1; call <= 2; ++call) {
    SCOPED_TRACE(call);
    const std::vector<uint8_t> bytes = EncodePng(image);
    FILE *f = fopen(picture.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    const std::string out = dir.File("s" + std::to_string(call) + ".png");
    EXPECT_EQ(Snap(out, 0), 1);
    EXPECT_EQ(portal.Screenshots(), call);
    EXPECT_FALSE(FileExists(picture));
    Image png;
    ASSERT_TRUE(DecodePng(out, &png));
    EXPECT_EQ(FirstDifference(png, image), "");
  }
  kplat::CloseDisplays();
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace
}  // namespace ktest
