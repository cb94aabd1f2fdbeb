// The X display against what the test itself draws on and reads back from
// real servers of each supported depth.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display_probe.h"
#include "x11_test_support.h"
#include "x_scene.h"

namespace {

struct Screen {
  const char *name;
  const char *geometry;
  std::vector<std::string> extra;
};

class ScreenPixels : public ::testing::TestWithParam<Screen> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start(GetParam().geometry, GetParam().extra));
    ktest::UseServer(server_);
    ASSERT_TRUE(ktest::DrawScene(server_.name(), 1234, &drawn_));
    ASSERT_TRUE(ktest::ReadBack(server_.name(), &readBack_));
  }
  void TearDown() override { kplat::CloseDisplays(); }

  ktest::Xvfb server_;
  ktest::ServerImage drawn_, readBack_;
};

TEST_P(ScreenPixels, SizeIsTheRootWindows) {
  ktest::DisplayProbe *display = ktest::SystemDisplay();
  ASSERT_NE(display, nullptr);
  int w = 0, h = 0;
  ASSERT_TRUE(display->GetSize(&w, &h));
  EXPECT_EQ(w, drawn_.width);
  EXPECT_EQ(h, drawn_.height);
}

TEST_P(ScreenPixels, FormatMatchesTheRootVisual) {
  kplat::PixelFormat format;
  ASSERT_TRUE(ktest::SystemDisplay()->GetFormat(&format));
  EXPECT_EQ(format.bitsPerPixel, drawn_.bitsPerPixel);
  if (drawn_.depth == 8) {
    ASSERT_TRUE(format.IsPalettised());
    std::vector<std::array<uint8_t, 3>> palette;
    ASSERT_TRUE(ktest::ReadPalette(server_.name(), &palette));
    for (int i = 0; i < 256; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(format.palette[i].rgbRed, palette[i][0]);
      EXPECT_EQ(format.palette[i].rgbGreen, palette[i][1]);
      EXPECT_EQ(format.palette[i].rgbBlue, palette[i][2]);
    }
  } else {
    EXPECT_EQ(format.redMask, drawn_.redMask);
    EXPECT_EQ(format.greenMask, drawn_.greenMask);
    EXPECT_EQ(format.blueMask, drawn_.blueMask);
  }
}

TEST_P(ScreenPixels, ReadPixelsGivesWhatWasDrawn) {
  std::vector<uint32_t> pixels;
  int w, h;
  kplat::PixelFormat format;
  ASSERT_TRUE(ktest::ReadScreen(&pixels, &w, &h, &format));
  ASSERT_EQ(pixels.size(), drawn_.pixels.size());
  EXPECT_TRUE(pixels == readBack_.pixels);
  EXPECT_TRUE(pixels == drawn_.pixels);
}

TEST_P(ScreenPixels, PaddedAndBottomUpBuffersHoldTheSameRows) {
  std::vector<uint32_t> plain, padded, bottomUp;
  int w, h;
  kplat::PixelFormat format;
  ASSERT_TRUE(ktest::ReadScreen(&plain, &w, &h, &format));
  ASSERT_TRUE(ktest::ReadScreen(&padded, &w, &h, &format, 7));
  ASSERT_TRUE(ktest::ReadScreen(&bottomUp, &w, &h, &format, 3, true));
  EXPECT_TRUE(padded == plain);
  EXPECT_TRUE(bottomUp == plain);
}

TEST_P(ScreenPixels, ReadsAnInnerRectangle) {
  ktest::DisplayProbe *display = ktest::SystemDisplay();
  ASSERT_NE(display, nullptr);
  kplat::PixelFormat format;
  ASSERT_TRUE(display->GetFormat(&format));
  const int x = 3, y = 5, w = drawn_.width - 10, h = drawn_.height - 9;
  const int bytes = format.BytesPerPixel();
  std::vector<uint8_t> buf(size_t(w) * h * bytes);
  ASSERT_TRUE(display->ReadPixels(x, y, w, h, buf.data(), w * bytes));
  const std::vector<uint32_t> got =
      ktest::DecodeLittleEndian(buf.data(), w, h, w * bytes, bytes);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      ASSERT_EQ(got[size_t(r) * w + c],
                drawn_.pixels[size_t(r + y) * drawn_.width + c + x])
          << r << "," << c;
}

TEST_P(ScreenPixels, RefusesRectanglesOutsideTheScreenAndBadArguments) {
  ktest::DisplayProbe *display = ktest::SystemDisplay();
  ASSERT_NE(display, nullptr);
  std::vector<uint8_t> buf(64 * 1024);
  EXPECT_FALSE(display->ReadPixels(drawn_.width - 2, 0, 4, 1, buf.data(), 16));
  EXPECT_FALSE(display->ReadPixels(0, 0, 0, 1, buf.data(), 16));
  EXPECT_FALSE(display->ReadPixels(-1, 0, 1, 1, buf.data(), 16));
  EXPECT_FALSE(display->ReadPixels(0, 0, 1, 1, nullptr, 16));
  EXPECT_FALSE(display->ReadPixels(0, 0, 40000, 1, buf.data(), 16));
  EXPECT_FALSE(display->GetSize(nullptr, nullptr));
  EXPECT_FALSE(display->GetFormat(nullptr));
  // The connection is still good afterwards.
  EXPECT_TRUE(display->ReadPixels(0, 0, 1, 1, buf.data(), 16));
}

const Screen kScreens[] = {
    {"Depth16_240x320", "240x320x16", {}},
    {"Depth16_243x100", "243x100x16", {}},
    {"Depth15_101x60", "101x60x15", {}},
    {"Depth24_241x321", "241x321x24", {}},
    {"Depth24_1920x1080", "1920x1080x24", {}},
    {"Depth30_240x320", "240x320x30", {}},
    {"PseudoColor_201x150", "201x150x8", {}},
    {"GrayScale_120x90", "120x90x8", {"-cc", "1"}},
    {"StaticGray_120x90", "120x90x8", {"-cc", "0"}},
};

INSTANTIATE_TEST_SUITE_P(Xvfb, ScreenPixels, ::testing::ValuesIn(kScreens),
                         [](const ::testing::TestParamInfo<Screen> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
