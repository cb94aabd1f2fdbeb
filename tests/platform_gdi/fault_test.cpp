// Injected failures: each failing call fails cleanly, and the whole
// screen-to-section road gives everything back whichever step fails.
#include <vector>

#include "gdi_test_support.h"

namespace {

using FaultTest = gditest::GdiTest;

TEST_F(FaultTest, EachCreatingCallFailsOnce) {
  gditest::InstallPatternScreen(4, 4);
  KTestFailNth(KTEST_OP_GETDC, 1);
  EXPECT_EQ(nullptr, GetDC(nullptr));
  gditest::ScreenDC screen;
  KTestFailNth(KTEST_OP_CREATECOMPATIBLEDC, 1);
  EXPECT_EQ(nullptr, CreateCompatibleDC(screen.dc));
  KTestFailNth(KTEST_OP_CREATECOMPATIBLEBITMAP, 1);
  EXPECT_EQ(nullptr, CreateCompatibleBitmap(screen.dc, 4, 4));
  KTestFailNth(KTEST_OP_CREATEDIBSECTION, 1);
  uint8_t *bits = reinterpret_cast<uint8_t *>(&bits);
  EXPECT_EQ(nullptr, gditest::MakeSection(4, 4, &bits));
  EXPECT_EQ(nullptr, bits);
  const KTestLiveObjects live = KTestGetLiveObjects();
  EXPECT_TRUE(live.screenDCs == 1 && live.memoryDCs == 0 && live.bitmaps == 0 &&
              live.sections == 0);
  // Each failed once only: the next calls succeed.
  gditest::SectionDC dst(4, 4);
  ASSERT_TRUE(dst.dc && dst.bm);
  KTestFailNth(KTEST_OP_DISPLAY_READ, 1);
  EXPECT_FALSE(BitBlt(dst.dc, 0, 0, 4, 4, screen.dc, 0, 0, SRCCOPY));
  EXPECT_TRUE(BitBlt(dst.dc, 0, 0, 4, 4, screen.dc, 0, 0, SRCCOPY));
  gditest::ExpectPattern(dst.At(3, 2), 3, 2);
  EXPECT_EQ(2u, KTestCallCount(KTEST_OP_DISPLAY_READ));
}

// A capture's use of the platform: the screen into a compatible bitmap,
// that into a section, checking every result and releasing all it made.
bool GrabAndCopy(int w, int h) {
  HDC screen = GetDC(nullptr);
  HDC mem = screen ? CreateCompatibleDC(screen) : nullptr;
  HBITMAP bm = mem ? CreateCompatibleBitmap(screen, w, h) : nullptr;
  HGDIOBJ old = bm ? SelectObject(mem, bm) : nullptr;
  bool ok = old && BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
  if (old) SelectObject(mem, old);
  if (mem) DeleteDC(mem);
  if (screen) ReleaseDC(nullptr, screen);
  uint8_t *bits = nullptr;
  HBITMAP sec = ok ? gditest::MakeSection(w, h, &bits) : nullptr;
  HDC src = sec ? CreateCompatibleDC(nullptr) : nullptr;
  HDC dst = src ? CreateCompatibleDC(nullptr) : nullptr;
  ok = dst != nullptr;
  if (ok) {
    HGDIOBJ oldSrc = SelectObject(src, bm), oldDst = SelectObject(dst, sec);
    ok = BitBlt(dst, 0, 0, w, h, src, 0, 0, SRCCOPY) &&
         bits[0] == uint8_t(gditest::PatternPixel(0, h - 1));
    SelectObject(src, oldSrc);
    SelectObject(dst, oldDst);
  }
  if (dst) DeleteDC(dst);
  if (src) DeleteDC(src);
  if (sec) DeleteObject(sec);
  if (bm) DeleteObject(bm);
  return ok;
}

TEST_F(FaultTest, EveryHeapFailureOnTheRoadIsCleanedUp) {
  gditest::InstallPatternScreen(6, 5);
  unsigned n = 1;
  for (;; ++n) {
    KTestResetFaults();
    KTestFailNth(KTEST_OP_MALLOC, n);
    const bool ok = GrabAndCopy(6, 5);
    ASSERT_TRUE(gditest::NoLiveObjects()) << "after failing malloc " << n;
    if (KTestCallCount(KTEST_OP_MALLOC) < n) {  // ran out of mallocs to fail
      EXPECT_TRUE(ok);
      break;
    }
    EXPECT_FALSE(ok) << "malloc " << n << " failed unnoticed";
  }
  EXPECT_GE(n, 9u);  // 8 mallocs: 4 DCs, 2 bitmaps and their pixels
}

TEST_F(FaultTest, HandlesRunOutCleanlyAndComeBack) {
  std::vector<HDC> dcs;
  for (HDC dc; (dc = CreateCompatibleDC(nullptr)) != nullptr;) {
    dcs.push_back(dc);
    ASSERT_LT(dcs.size(), 100000u) << "no limit on handles";
  }
  EXPECT_EQ(65535u, dcs.size());
  uint8_t *bits;  // no handle left for a bitmap either; its memory goes back
  EXPECT_EQ(nullptr, gditest::MakeSection(4, 4, &bits));
  for (HDC dc : dcs) ASSERT_TRUE(DeleteDC(dc));  // so all were distinct
  for (HDC dc : dcs) ASSERT_FALSE(DeleteDC(dc));
  HDC again = CreateCompatibleDC(nullptr);
  EXPECT_NE(nullptr, again);
  EXPECT_TRUE(DeleteDC(again));
}

}  // namespace
