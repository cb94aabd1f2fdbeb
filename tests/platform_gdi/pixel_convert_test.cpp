// Conversion of every supported screen format to blue-green-red, checked
// against values computed here in floating point from the masks.
#include "pixel_convert.h"

#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <vector>

namespace {

struct FormatCase {
  const char *name;
  int bpp;
  uint32_t r, g, b;
};
void PrintTo(const FormatCase &c, std::ostream *os) { *os << c.name; }

class TruecolourConversion : public ::testing::TestWithParam<FormatCase> {};

// Odd width, a misaligned source, junk in unused bits and a bottom-up
// destination: each would expose a shortcut in the row loops.
TEST_P(TruecolourConversion, MatchesScaledChannels) {
  const FormatCase c = GetParam();
  const uint32_t masks[3] = {c.b, c.g, c.r};
  const int bytes = c.bpp / 8, w = 7, h = 3;
  const ptrdiff_t ss = w * bytes + 5, ds = w * 3 + 1;
  std::vector<uint8_t> src(1 + ss * h), dst(ds * h, 0xEE), want(ds * h, 0xEE);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint32_t v = ~(c.r | c.g | c.b);
      for (int ch = 0; ch < 3; ++ch) {
        const int shift = __builtin_ctz(masks[ch]);
        const uint32_t max = masks[ch] >> shift;
        const uint32_t cv =
            x == 0   ? max  // full scale must reach 255
            : x == 1 ? 0
                     : uint32_t(x * 37 + y * 101 + ch * 13) % (max + 1);
        v = (v & ~masks[ch]) | cv << shift;
        want[(h - 1 - y) * ds + x * 3 + ch] = uint8_t(lround(cv * 255.0 / max));
      }
      memcpy(&src[1 + y * ss + x * bytes], &v, bytes);
    }
  }
  const kplat::PixelFormat f = {c.bpp, c.r, c.g, c.b, {}};
  kplat::Bgr24Converter conv;
  ASSERT_TRUE(kplat::PrepareBgr24Converter(f, &conv));
  kplat::ConvertToBgr24(conv, &src[1], ss, &dst[(h - 1) * ds], -ds, w, h);
  EXPECT_EQ(want, dst);
  EXPECT_EQ(255, dst[0]);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TruecolourConversion,
    ::testing::Values(FormatCase{"Rgb555", 16, 0x7C00, 0x03E0, 0x001F},
                      FormatCase{"Rgb565", 16, 0xF800, 0x07E0, 0x001F},
                      FormatCase{"Bgr565", 16, 0x001F, 0x07E0, 0xF800},
                      FormatCase{"Bgr24", 24, 0xFF0000, 0x00FF00, 0x0000FF},
                      FormatCase{"Rgb24", 24, 0x0000FF, 0x00FF00, 0xFF0000},
                      FormatCase{"Gbr24", 24, 0x00FF00, 0xFF0000, 0x0000FF},
                      FormatCase{"Xrgb32", 32, 0xFF0000, 0x00FF00, 0x0000FF},
                      FormatCase{"Xbgr32", 32, 0x0000FF, 0x00FF00, 0xFF0000},
                      FormatCase{"Rgbx32", 32, 0xFF000000, 0xFF0000, 0xFF00},
                      FormatCase{"Xrgb10", 32, 0x3FF00000, 0xFFC00, 0x3FF},
                      FormatCase{"Xbgr10", 32, 0x3FF, 0xFFC00, 0x3FF00000}),
    [](const ::testing::TestParamInfo<FormatCase> &i) { return i.param.name; });

TEST(PaletteConversion, LooksUpEveryIndex) {
  kplat::PixelFormat f;
  memset(&f, 0, sizeof(f));
  f.bitsPerPixel = 8;
  for (int i = 0; i < 256; ++i)
    f.palette[i] = RGBQUAD{uint8_t(i), uint8_t(255 - i), uint8_t(i * 3), 77};
  const int w = 259;  // every index, then some again
  std::vector<uint8_t> src(w), dst(w * 3);
  for (int x = 0; x < w; ++x) src[x] = uint8_t(x * 5);
  kplat::Bgr24Converter conv;
  ASSERT_TRUE(kplat::PrepareBgr24Converter(f, &conv));
  kplat::ConvertToBgr24(conv, src.data(), w, dst.data(), w * 3, w, 1);
  for (int x = 0; x < w; ++x) {
    const RGBQUAD &e = f.palette[src[x]];
    ASSERT_TRUE(dst[3 * x] == e.rgbBlue && dst[3 * x + 1] == e.rgbGreen &&
                dst[3 * x + 2] == e.rgbRed)
        << x;
  }
}

}  // namespace
