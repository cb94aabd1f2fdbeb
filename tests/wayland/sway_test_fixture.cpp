#include "sway_test_fixture.h"

#include <stdlib.h>

#include <chrono>
#include <thread>

#include "backends.h"

namespace ktest {

void SwayTest::SetUp() {
  if (!HaveProgram("sway") || !HaveProgram("swaymsg") || !HaveProgram("grim"))
    GTEST_SKIP() << "needs sway, swaymsg and grim (apt-get install sway grim)";
  // The portal is not what these tests are about.
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

void SwayTest::TearDown() {
  kplat::kWaylandBackend.close();
  sway_.Stop();
}

void SwayTest::StartSway(const std::vector<std::string> &lines) {
  std::vector<std::string> config = {
      "output HEADLESS-1 mode 640x480 position 0 0 bg #000000 solid_color"};
  config.insert(config.end(), lines.begin(), lines.end());
  ASSERT_TRUE(sway_.Start(config)) << "sway did not start";
  sway_.Use();
}

void SwayTest::AddSecondOutput(const std::string &settings) {
  ASSERT_TRUE(sway_.Msg("create_output"));
  ASSERT_TRUE(sway_.Msg("output HEADLESS-2 " + settings));
}

void SwayTest::ShowImage(const std::string &output, const Image &image) {
  const std::string path = sway_.WriteFile(
      "bg" + std::to_string(++backgrounds_) + ".png", EncodePng(image));
  ASSERT_TRUE(sway_.Msg("output " + output + " bg " + path + " stretch"));
}

Image SwayTest::ShowPattern(int seed) {
  const Image pattern = Pattern(640, 480, seed);
  ShowImage("HEADLESS-1", pattern);
  ExpectScreen(pattern);
  return pattern;
}

void SwayTest::ExpectScreen(const Image &expected) {
  Image shot;
  ASSERT_TRUE(WaitForGrim(
      &shot,
      [&](const Image &s) { return FirstDifference(s, expected).empty(); }))
      << "grim: " << FirstDifference(shot, expected);
  Capture capture;
  ASSERT_TRUE(CaptureWayland(&capture));
  EXPECT_EQ(FirstDifference(capture.image, expected), "");
  // Into lent memory: twice, the second time into the memory kept from the
  // first, which must show nothing of it.
  for (int call = 0; call < 2; ++call) {
    ASSERT_TRUE(CaptureWayland(&capture, true)) << "lent, call " << call;
    EXPECT_EQ(FirstDifference(capture.image, expected), "")
        << "lent, call " << call;
  }
  // The kept memory goes: what a test counts afterwards is its own.
  kplat::kWaylandBackend.close();
}

void SwayTest::Pause(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace ktest
