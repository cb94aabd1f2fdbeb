// The Wayland screen against headless sway, with grim as the second
// opinion: layouts, rotation, scale.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "backends.h"
#include "sway_test_fixture.h"

namespace ktest {
namespace {

class WaylandScreenTest : public SwayTest {};

TEST_F(WaylandScreenTest, OneOutputShowsExactlyWhatTheCompositorShows) {
  StartSway();
  const Image pattern = Pattern(640, 480, 1);
  ShowImage("HEADLESS-1", pattern);
  Image shot;
  ASSERT_TRUE(WaitForGrim(&shot, [&](const Image &s) {
    return FirstDifference(s, pattern).empty();
  })) << FirstDifference(shot, pattern);

  Capture capture;
  ASSERT_TRUE(CaptureWayland(&capture));
  EXPECT_EQ(capture.frame.width, 640);
  EXPECT_EQ(capture.frame.height, 480);
  EXPECT_EQ(FirstDifference(capture.image, pattern), "");
}

// Image scaled up by a whole factor, each pixel repeated.
Image Enlarge(const Image &image, int factor) {
  Image big;
  big.width = image.width * factor;
  big.height = image.height * factor;
  big.rgb.resize(size_t(big.width) * size_t(big.height) * 3);
  for (int y = 0; y < big.height; ++y)
    for (int x = 0; x < big.width; ++x)
      for (int c = 0; c < 3; ++c)
        big.rgb[(size_t(y) * size_t(big.width) + size_t(x)) * 3 + size_t(c)] =
            image.rgb[(size_t(y / factor) * size_t(image.width) +
                       size_t(x / factor)) *
                          3 +
                      size_t(c)];
  return big;
}

// Image with part drawn over it at (x, y).
Image Paste(Image base, const Image &part, int x, int y) {
  for (int r = 0; r < part.height; ++r)
    memcpy(&base.rgb[(size_t(y + r) * size_t(base.width) + size_t(x)) * 3],
           &part.rgb[size_t(r) * size_t(part.width) * 3],
           size_t(part.width) * 3);
  return base;
}

Image Black(int w, int h) {
  Image image;
  image.width = w;
  image.height = h;
  image.rgb.assign(size_t(w) * size_t(h) * 3, 0);
  return image;
}

TEST_F(WaylandScreenTest, TwoOutputsSideBySideWithTheGapBlack) {
  StartSway();
  AddSecondOutput("mode 320x240 position 640 0");
  const Image left = Pattern(640, 480, 2), right = Pattern(320, 240, 3);
  ShowImage("HEADLESS-1", left);
  ShowImage("HEADLESS-2", right);
  ExpectScreen(Paste(Paste(Black(960, 480), left, 0, 0), right, 640, 0));
}

// Outputs as wide as the picture share its stride: the compositor writes
// both straight into lent memory.
TEST_F(WaylandScreenTest, TwoOutputsStackedAtTheSameWidth) {
  StartSway();
  AddSecondOutput("mode 640x480 position 0 480");
  const Image top = Pattern(640, 480, 13), bottom = Pattern(640, 480, 14);
  ShowImage("HEADLESS-1", top);
  ShowImage("HEADLESS-2", bottom);
  ExpectScreen(Paste(Paste(Black(640, 960), top, 0, 0), bottom, 0, 480));
}

TEST_F(WaylandScreenTest, OutputsAtOffsetsMakeTheirBoundingBox) {
  // Positions need not start at 0: the picture starts at the smallest.
  StartSway({"output HEADLESS-1 position 200 100"});
  AddSecondOutput("mode 320x240 position 840 580");
  const Image a = Pattern(640, 480, 4), b = Pattern(320, 240, 5);
  ShowImage("HEADLESS-1", a);
  ShowImage("HEADLESS-2", b);
  ExpectScreen(Paste(Paste(Black(960, 720), a, 0, 0), b, 640, 480));
}

TEST_F(WaylandScreenTest, TurnedOutputAppearsAsTheUserSeesIt) {
  const struct {
    const char *name;
    bool turned;  // a quarter turn: width and height swap
  } transforms[] = {{"90", true},
                    {"180", false},
                    {"270", true},
                    {"flipped", false},
                    {"flipped-90", true}};
  for (const auto &transform : transforms) {
    SCOPED_TRACE(transform.name);
    StartSway({std::string("output HEADLESS-1 transform ") + transform.name});
    const bool turned = transform.turned;
    const Image pattern = turned ? Pattern(480, 640, 6) : Pattern(640, 480, 6);
    ShowImage("HEADLESS-1", pattern);
    ExpectScreen(pattern);
    sway_.Stop();
  }
}

TEST_F(WaylandScreenTest, ScaledOutputIsTakenInPhysicalPixels) {
  StartSway({"output HEADLESS-1 mode 1280x960 scale 2"});
  const Image pattern = Pattern(1280, 960, 7);
  ShowImage("HEADLESS-1", pattern);
  ExpectScreen(pattern);
}

TEST_F(WaylandScreenTest, MixedScalesComposeAtTheLargestWithNearestPixels) {
  StartSway({"output HEADLESS-1 mode 1280x960 scale 2"});
  AddSecondOutput("mode 320x240 position 640 0");
  const Image sharp = Pattern(1280, 960, 8), plain = Pattern(320, 240, 9);
  ShowImage("HEADLESS-1", sharp);
  ShowImage("HEADLESS-2", plain);
  // grim's picture is not compared here: it enlarges with its own filter.
  Image shot;
  ASSERT_TRUE(WaitForGrim(&shot, [&](const Image &s) {
    return s.width == 1920 && s.height == 960 &&
           FirstDifference(Crop(s, 0, 0, 1280, 960), sharp).empty();
  }));
  Capture capture;
  ASSERT_TRUE(CaptureWayland(&capture));
  EXPECT_EQ(
      FirstDifference(capture.image, Paste(Paste(Black(1920, 960), sharp, 0, 0),
                                           Enlarge(plain, 2), 1280, 0)),
      "");
}

TEST_F(WaylandScreenTest, LentPictureIsComposedInPlaceAndOutlivesTheFrame) {
  StartSway();
  const Image pattern = ShowPattern(10);
  kplat::Display *display = kplat::kWaylandBackend.open();
  ASSERT_NE(display, nullptr);
  kplat::Frame frame;
  ASSERT_TRUE(display->BeginFrame(&frame));
  const int stride = frame.width * frame.format.BytesPerPixel();
  uint8_t *pixels = display->LendPixels(frame, 640, 480, stride);
  ASSERT_NE(pixels, nullptr);
  // Lent to one bitmap at a time, and only for the whole frame.
  EXPECT_EQ(display->LendPixels(frame, 640, 480, stride), nullptr);
  EXPECT_TRUE(display->ReadPixels(frame, 0, 0, 640, 480, pixels, stride));
  // A part read elsewhere comes from the same picture.
  std::vector<uint8_t> part(static_cast<size_t>(stride));
  EXPECT_TRUE(display->ReadPixels(frame, 0, 479, 640, 1, part.data(), stride));
  display->EndFrame();
  kplat::kWaylandBackend.close();
  EXPECT_EQ(
      FirstDifference(RgbImage(640, 480, frame.format, pixels, size_t(stride)),
                      pattern),
      "");
  EXPECT_EQ(memcmp(part.data(), pixels + 479 * stride, size_t(stride)), 0);
  display->ReturnPixels(pixels);
}

}  // namespace
}  // namespace ktest
