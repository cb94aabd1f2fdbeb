// BitBlt: the screen-to-bitmap-to-section road, direct screen reads, row
// order, bands, clipping and format rules.
#include <math.h>

#include <vector>

#include "gdi_test_support.h"

namespace {

using gditest::ExpectPattern;
using gditest::ScreenDC;
using gditest::SectionDC;

using BlitTest = gditest::GdiTest;

TEST_F(BlitTest, ScreenToCompatibleToSectionLeavesPaddingAlone) {
  gditest::InstallPatternScreen(7, 5);  // odd width: the section has padding
  ScreenDC screen;
  HDC mem = CreateCompatibleDC(screen.dc);
  HBITMAP bm = CreateCompatibleBitmap(screen.dc, 7, 5);
  HGDIOBJ old = SelectObject(mem, bm);
  ASSERT_TRUE(BitBlt(mem, 0, 0, 7, 5, screen.dc, 0, 0, SRCCOPY));
  {
    SectionDC dst(7, 5);
    memset(dst.bits, 0x5A, dst.Bytes());
    ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 7, 5, mem, 0, 0, SRCCOPY));
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) ExpectPattern(dst.At(x, y), x, y);
    for (int row = 0; row < 5; ++row)
      for (int i = 21; i < 24; ++i) EXPECT_EQ(0x5A, dst.bits[row * 24 + i]);
  }
  SelectObject(mem, old);
  EXPECT_TRUE(DeleteDC(mem));
  EXPECT_TRUE(DeleteObject(bm));
}

TEST_F(BlitTest, SameFormatScreenLandsInBothRowOrders) {
  // A blue-green-red screen is read straight into the section.
  const uint8_t px[2][12] = {{1, 2, 3, 4, 5, 6, 7, 8, 9},
                             {10, 11, 12, 13, 14, 15, 16, 17, 18}};
  ASSERT_EQ(1, KTestInstallMemoryDisplay(3, 2, &gditest::kBgr24, px, 12));
  ScreenDC screen;
  for (int h : {2, -2}) {
    SectionDC dst(3, h);
    memset(dst.bits, 0x5A, dst.Bytes());
    ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 3, 2, screen.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(0, memcmp(dst.bits, px[h > 0 ? 1 : 0], 9));
    EXPECT_EQ(0, memcmp(dst.bits + 12, px[h > 0 ? 0 : 1], 9));
    for (int i : {9, 10, 11, 21, 22, 23}) EXPECT_EQ(0x5A, dst.bits[i]);
  }
}

TEST_F(BlitTest, ConvertsTallScreensBandByBand) {
  const int w = 9, h = 90;  // several bands, starting at an offset row
  std::vector<uint16_t> px(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[y * w + x] = uint16_t((x * 3) << 11 | (y % 64) << 5 | (31 - x));
  ASSERT_EQ(
      1, KTestInstallMemoryDisplay(w, h, &gditest::kRgb565, px.data(), w * 2));
  ScreenDC screen;
  SectionDC dst(w, h - 3);
  ASSERT_TRUE(BitBlt(dst.dc, 0, 0, w, h - 3, screen.dc, 0, 3, SRCCOPY));
  for (int y = 0; y < h - 3; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint8_t *p = dst.At(x, y);
      ASSERT_TRUE(p[0] == lround((31 - x) * 255.0 / 31) &&
                  p[1] == lround(((y + 3) % 64) * 255.0 / 63) &&
                  p[2] == lround(x * 3 * 255.0 / 31))
          << x << "," << y;
    }
  }
}

TEST_F(BlitTest, OverlappingCopyInsideOneBitmap) {
  gditest::InstallPatternScreen(4, 6);
  ScreenDC screen;
  SectionDC s(4, 6);
  ASSERT_TRUE(BitBlt(s.dc, 0, 0, 4, 6, screen.dc, 0, 0, SRCCOPY));
  // Down two rows, right one: every pixel comes from the original picture.
  ASSERT_TRUE(BitBlt(s.dc, 1, 2, 3, 4, s.dc, 0, 0, SRCCOPY));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 4; ++x)
      ExpectPattern(s.At(x, y), x >= 1 && y >= 2 ? x - 1 : x,
                    x >= 1 && y >= 2 ? y - 2 : y);
}

TEST_F(BlitTest, RefusesWhatItCannotCopy) {
  gditest::InstallPatternScreen(4, 4);
  ScreenDC screen;
  SectionDC sec(4, 4);
  HDC mem = CreateCompatibleDC(nullptr);
  HBITMAP bm32 = CreateCompatibleBitmap(screen.dc, 4, 4);
  HGDIOBJ stock = SelectObject(mem, bm32);
  EXPECT_FALSE(BitBlt(sec.dc, 0, 0, 4, 4, screen.dc, 0, 0, 0x00EE0086));
  EXPECT_FALSE(BitBlt(sec.dc, 0, 0, -1, 4, screen.dc, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(sec.dc, 0, 0, 4, -1, screen.dc, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(screen.dc, 0, 0, 4, 4, sec.dc, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(mem, 0, 0, 4, 4, sec.dc, 0, 0, SRCCOPY));  // 24 to 32
  std::vector<uint16_t> px(16);
  ASSERT_EQ(1,
            KTestInstallMemoryDisplay(4, 4, &gditest::kRgb565, px.data(), 8));
  EXPECT_FALSE(BitBlt(mem, 0, 0, 4, 4, screen.dc, 0, 0, SRCCOPY));  // 16 to 32
  SelectObject(mem, stock);  // the stock bitmap is neither end
  EXPECT_FALSE(BitBlt(mem, 0, 0, 1, 1, screen.dc, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(sec.dc, 0, 0, 1, 1, mem, 0, 0, SRCCOPY));
  EXPECT_TRUE(DeleteDC(mem));
  EXPECT_TRUE(DeleteObject(bm32));
}

struct ClipCase {
  int x, y, cx, cy, xs, ys;
};
void PrintTo(const ClipCase &c, std::ostream *os) {
  *os << c.cx << "x" << c.cy << " from " << c.xs << "," << c.ys << " to " << c.x
      << "," << c.y;
}

class ClippingTest : public gditest::GdiTest,
                     public ::testing::WithParamInterface<ClipCase> {};

// A destination pixel changes exactly when it is inside the block and its
// source pixel is on the screen.
TEST_P(ClippingTest, CopiesExactlyTheOverlap) {
  const ClipCase c = GetParam();
  const int sw = 6, sh = 5, dw = 5, dh = 4;
  gditest::InstallPatternScreen(sw, sh);
  ScreenDC screen;
  SectionDC dst(dw, dh);
  memset(dst.bits, 0x77, dst.Bytes());
  ASSERT_TRUE(
      BitBlt(dst.dc, c.x, c.y, c.cx, c.cy, screen.dc, c.xs, c.ys, SRCCOPY));
  for (int y = 0; y < dh; ++y) {
    for (int x = 0; x < dw; ++x) {
      const int64_t sx = int64_t(x) - c.x + c.xs, sy = int64_t(y) - c.y + c.ys;
      const uint8_t *p = dst.At(x, y);
      if (x - int64_t(c.x) < c.cx && y - int64_t(c.y) < c.cy && sx >= 0 &&
          sx < sw && sy >= 0 && sy < sh && x >= c.x && y >= c.y)
        ExpectPattern(p, int(sx), int(sy));
      else
        EXPECT_TRUE(p[0] == 0x77 && p[1] == 0x77 && p[2] == 0x77)
            << "pixel " << x << "," << y << " was written";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rectangles, ClippingTest,
    ::testing::Values(ClipCase{0, 0, 5, 4, 0, 0}, ClipCase{-2, -1, 5, 4, 0, 0},
                      ClipCase{1, 1, 5, 4, -3, -2},
                      ClipCase{2, 1, 99, 99, 3, 2},
                      ClipCase{-3, 2, 4, 9, 4, -1}, ClipCase{0, 0, 0, 4, 0, 0},
                      ClipCase{5, 0, 3, 3, 0, 0}, ClipCase{0, 0, 3, 3, 6, 0},
                      ClipCase{0, 0, 3, 3, -3, 0},
                      ClipCase{INT32_MIN, 0, INT32_MAX, 4, INT32_MAX, 0},
                      ClipCase{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX,
                               INT32_MIN, INT32_MIN}));

}  // namespace
