// Helpers of the graphics tests: a fixture that starts each test with no
// display and no armed fault and checks that it leaves no live object, and
// a patterned screen with the means to check copies of it.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "kestrel_testing.h"
#include "wingdi.h"

namespace gditest {

const KTestDisplayFormat kXrgb32 = {32, 0xFF0000, 0x00FF00, 0x0000FF, nullptr};
const KTestDisplayFormat kRgb565 = {16, 0xF800, 0x07E0, 0x001F, nullptr};
const KTestDisplayFormat kBgr24 = {24, 0xFF0000, 0x00FF00, 0x0000FF, nullptr};

// Every pixel differs, and the unused byte holds junk.
inline uint32_t PatternPixel(int x, int y) {
  return 0xAB000000u | uint32_t((x * 7) & 0xFF) << 16 |
         uint32_t((y * 13) & 0xFF) << 8 | uint32_t((x + y * 3) & 0xFF);
}

inline void InstallPatternScreen(int w, int h) {
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[size_t(y) * w + x] = PatternPixel(x, y);
  ASSERT_EQ(1, KTestInstallMemoryDisplay(w, h, &kXrgb32, px.data(), w * 4u));
}

inline BITMAPINFO SectionInfo(int w, int h) {
  BITMAPINFO bi;
  memset(&bi, 0, sizeof(bi));
  bi.bmiHeader = {40, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  return bi;
}

// A 24-bit section; h > 0 is bottom-up, h < 0 top-down.
inline HBITMAP MakeSection(int w, int h, uint8_t **bits) {
  BITMAPINFO bi = SectionInfo(w, h);
  return CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS,
                          reinterpret_cast<void **>(bits), nullptr, 0);
}

inline int SectionStride(int w) { return (w * 3 + 3) & ~3; }

// Image pixel (x, y), y = 0 at the top, of a section made with height h.
inline const uint8_t *SectionPixel(const uint8_t *bits, int w, int h, int x,
                                   int y) {
  return bits + size_t(h > 0 ? h - 1 - y : y) * SectionStride(w) + x * 3;
}

inline void ExpectPattern(const uint8_t *px, int sx, int sy) {
  const uint32_t v = PatternPixel(sx, sy);
  EXPECT_TRUE(px[0] == (v & 0xFF) && px[1] == ((v >> 8) & 0xFF) &&
              px[2] == ((v >> 16) & 0xFF))
      << "pattern pixel " << sx << "," << sy;
}

inline bool NoLiveObjects() {
  const KTestLiveObjects n = KTestGetLiveObjects();
  return n.screenDCs == 0 && n.memoryDCs == 0 && n.bitmaps == 0 &&
         n.sections == 0;
}

// A memory DC with a new section selected; undone at scope exit.
struct SectionDC {
  int w, h;
  uint8_t *bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bm = MakeSection(w, h, &bits);
  HGDIOBJ old = SelectObject(dc, bm);
  SectionDC(int w_, int h_) : w(w_), h(h_) {}
  ~SectionDC() {
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bm);
  }
  size_t Bytes() const { return size_t(SectionStride(w)) * (h < 0 ? -h : h); }
  const uint8_t *At(int x, int y) const {
    return SectionPixel(bits, w, h, x, y);
  }
};

struct ScreenDC {
  HDC dc = GetDC(nullptr);
  ~ScreenDC() { ReleaseDC(nullptr, dc); }
};

class GdiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KTestResetFaults();
    KTestRemoveMemoryDisplay();
    ASSERT_TRUE(NoLiveObjects()) << "an earlier test leaked objects";
  }
  void TearDown() override {
    KTestResetFaults();
    KTestRemoveMemoryDisplay();
    EXPECT_TRUE(NoLiveObjects()) << "live objects left behind";
  }
};

}  // namespace gditest
