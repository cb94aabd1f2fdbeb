// The 24-bit surface, the screen grab and the packing, checked on memory
// displays.
#include <string.h>

#include <vector>

#include "capture/packing.h"
#include "module_fixture.h"
#include "surface/dib_surface.h"
#include "surface/grab_screen.h"

namespace {

using SurfaceTest = ModuleTest;

// A bitmap selected into no context can at once be selected into another.
void ExpectSelectableElsewhere(HBITMAP bitmap) {
  HDC dc = CreateCompatibleDC(NULL);
  HGDIOBJ old = SelectObject(dc, bitmap);
  EXPECT_NE(old, nullptr);
  SelectObject(dc, old);
  DeleteDC(dc);
}

TEST_F(SurfaceTest, AlignWidthRoundsUpToFour) {
  const int cases[][2] = {{0, 0},     {1, 4},     {3, 4},     {4, 4},
                          {5, 8},     {240, 240}, {241, 244}, {242, 244},
                          {243, 244}, {244, 244}};
  for (const auto &c : cases)
    EXPECT_EQ(CDibSurface::AlignWidth(c[0]), c[1]) << c[0];
}

TEST_F(SurfaceTest, CreateLaysOutBottomUpSectionWithPaddedRows) {
  CDibSurface surface;
  EXPECT_EQ(surface.Create(241, 320), 1);
  ASSERT_NE(surface.m_pBits, nullptr);
  EXPECT_EQ(surface.m_nWidth, 241);
  EXPECT_EQ(surface.m_nHeight, 320);
  EXPECT_EQ(surface.m_nStride, 244);
  BITMAP bm;
  ASSERT_EQ(GetObject(surface.m_hBitmap, sizeof(BITMAP), &bm),
            int(sizeof(BITMAP)));
  EXPECT_EQ(bm.bmWidth, 244);  // the section is as wide as the stride
  EXPECT_EQ(bm.bmHeight, 320);
  EXPECT_EQ(bm.bmWidthBytes, 732);
  EXPECT_EQ(bm.bmBitsPixel, 24);
  EXPECT_EQ(bm.bmBits, surface.m_pBits);
  EXPECT_EQ(KTestGetLiveObjects().sections, 1);
}

TEST_F(SurfaceTest, SecondCreateReplacesFirstSection) {
  CDibSurface surface;
  surface.Create(16, 16);
  HBITMAP first = surface.m_hBitmap;
  surface.Create(32, 8);
  EXPECT_NE(surface.m_hBitmap, nullptr);
  EXPECT_EQ(KTestGetLiveObjects().sections, 1);
  // The first handle is gone: the platform no longer knows it.
  BITMAP bm;
  EXPECT_EQ(GetObject(first, sizeof(BITMAP), &bm), 0);
  EXPECT_EQ(surface.m_nStride, 32);
}

TEST_F(SurfaceTest, OversizedSurfaceGetsNoPixelsAndAllocatesNothing) {
  CDibSurface surface;
  // 40000 x 40000 x 3 does not fit in 32 bits; nor do widths near INT_MAX.
  const int sizes[][2] = {
      {40000, 40000}, {0x7FFFFFFF, 1}, {0x7FFFFFFC, 1}, {-4, 10}};
  for (const auto &s : sizes) {
    KTestResetFaults();
    EXPECT_EQ(surface.Create(s[0], s[1]), 1);
    EXPECT_EQ(surface.m_pBits, nullptr);
    EXPECT_EQ(surface.m_hBitmap, nullptr);
    EXPECT_EQ(KTestCallCount(KTEST_OP_CREATEDIBSECTION), 0u)
        << s[0] << "x" << s[1];
  }
}

TEST_F(SurfaceTest, DestroyingAnUnusedSurfaceMakesNoPlatformCall) {
  KTestResetFaults();
  { CDibSurface surface; }
  for (int op = 0; op < KTEST_OP_COUNT; ++op)
    EXPECT_EQ(KTestCallCount(KTestOp(op)), 0u) << op;
}

TEST_F(SurfaceTest, GrabGivesUnselectedBitmapOfTheScreensSize) {
  ktest::Image expected;
  const int sizes[][2] = {{240, 320}, {320, 240}};
  for (const auto &s : sizes) {
    ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[2], s[0],
                                            s[1], 7, &expected));
    HBITMAP a = GrabScreen();
    HBITMAP b = GrabScreen();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    BITMAP bm;
    ASSERT_EQ(GetObject(a, sizeof(BITMAP), &bm), int(sizeof(BITMAP)));
    EXPECT_EQ(bm.bmWidth, s[0]);
    EXPECT_EQ(bm.bmHeight, s[1]);
    EXPECT_EQ(bm.bmBitsPixel, 16);
    ExpectSelectableElsewhere(a);
    EXPECT_TRUE(DeleteObject(a));
    EXPECT_TRUE(DeleteObject(b));
  }
}

TEST_F(SurfaceTest, CopyFromPutsTopLeftInLastRow) {
  ktest::Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[4], 241, 5,
                                          3, &expected));
  HBITMAP screen = GrabScreen();
  ASSERT_NE(screen, nullptr);
  {
    CDibSurface surface;
    surface.CopyFrom(screen);
    ASSERT_NE(surface.m_pBits, nullptr);
    EXPECT_EQ(surface.m_nWidth, 241);
    EXPECT_EQ(surface.m_nStride, 244);
    const size_t row = 244 * 3;
    for (int y = 0; y < 5; ++y) {
      const uint8_t *src = surface.m_pBits + (4 - y) * row;
      for (int x = 0; x < 241; ++x) {
        const uint8_t *want = &expected.rgb[(size_t(y) * 241 + x) * 3];
        ASSERT_EQ(src[3 * x], want[2]) << x << "," << y;
        ASSERT_EQ(src[3 * x + 1], want[1]) << x << "," << y;
        ASSERT_EQ(src[3 * x + 2], want[0]) << x << "," << y;
      }
    }
  }
  // The source survives the copy unselected and is still the caller's.
  ExpectSelectableElsewhere(screen);
  EXPECT_TRUE(DeleteObject(screen));
}

TEST_F(SurfaceTest, CopyFromAnInvalidBitmapLeavesNoPixels) {
  CDibSurface surface;
  surface.CopyFrom(reinterpret_cast<HBITMAP>(0x1234));
  EXPECT_EQ(surface.m_pBits, nullptr);
  EXPECT_EQ(surface.m_hBitmap, nullptr);
}

// Each platform call of the copy, failed in turn, leaves either a surface
// without pixels or (where the failure cannot matter) a complete copy, and
// nothing alive.
TEST_F(SurfaceTest, CopyFromFailuresLeaveNoPixelsOrAWholeCopy) {
  ktest::Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[3], 8, 8, 1,
                                          &expected));
  const KTestOp ops[] = {KTEST_OP_GETDC, KTEST_OP_CREATEDIBSECTION,
                         KTEST_OP_CREATECOMPATIBLEDC, KTEST_OP_MALLOC};
  for (KTestOp op : ops) {
    for (unsigned n = 1; n <= 6; ++n) {
      HBITMAP screen = GrabScreen();
      ASSERT_NE(screen, nullptr);
      KTestResetFaults();
      KTestFailNth(op, n);
      {
        CDibSurface surface;
        surface.CopyFrom(screen);
        if (surface.m_pBits != nullptr) {
          for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
              for (int c = 0; c < 3; ++c)
                ASSERT_EQ(surface.m_pBits[(7 - y) * 24 + x * 3 + c],
                          expected.rgb[(y * 8 + x) * 3 + 2 - c])
                    << "op " << op << " #" << n;
        }
        const unsigned calls = KTestCallCount(op);
        KTestResetFaults();  // an unreached fault must not hit the next grab
        if (op != KTEST_OP_GETDC && n <= calls) {
          // Every context, section and allocation of the copy itself matters.
          if (op != KTEST_OP_MALLOC || n > 1) {
            EXPECT_EQ(surface.m_pBits, nullptr) << "op " << op << " #" << n;
          }
        }
      }
      EXPECT_TRUE(DeleteObject(screen));
      const KTestLiveObjects live = KTestGetLiveObjects();
      EXPECT_EQ(live.memoryDCs + live.sections + live.bitmaps + live.screenDCs,
                0);
    }
  }
}

TEST_F(SurfaceTest, GrabFailuresReturnNullAndLeaveNothing) {
  ktest::Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[3], 8, 8, 1,
                                          &expected));
  const KTestOp ops[] = {KTEST_OP_GETDC, KTEST_OP_CREATECOMPATIBLEDC,
                         KTEST_OP_CREATECOMPATIBLEBITMAP,
                         KTEST_OP_DISPLAY_READ};
  for (KTestOp op : ops) {
    KTestResetFaults();
    KTestFailNth(op, 1);
    EXPECT_EQ(GrabScreen(), nullptr) << op;
    const KTestLiveObjects live = KTestGetLiveObjects();
    EXPECT_EQ(live.memoryDCs + live.sections + live.bitmaps + live.screenDCs, 0)
        << op;
  }
  KTestRemoveMemoryDisplay();
  EXPECT_EQ(GrabScreen(), nullptr);
}

TEST_F(SurfaceTest, PackingOrdersAndOddWidths) {
  CDibSurface surface;
  surface.Create(241, 3);
  ASSERT_NE(surface.m_pBits, nullptr);
  // Surface bytes: row in memory r, column x -> (r, x, channel).
  const size_t row = 244 * 3;
  for (int r = 0; r < 3; ++r)
    for (int x = 0; x < 244; ++x)
      for (int c = 0; c < 3; ++c)
        surface.m_pBits[r * row + x * 3 + c] = uint8_t(r * 50 + x + c * 7);
  ASSERT_EQ(PackedSize(241, 3), 241u * 3 * 3);
  std::vector<uint8_t> bgr(PackedSize(241, 3)), rgb(PackedSize(241, 3));
  PackSurface(surface, bgr.data(), kPackBgr);
  PackSurface(surface, rgb.data(), kPackRgb);
  for (int y = 0; y < 3; ++y) {
    const int r = 2 - y;  // bottom-up
    for (int x = 0; x < 241; ++x) {
      const size_t o = (size_t(y) * 241 + x) * 3;  // rows of 723 bytes
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(bgr[o + c], uint8_t(r * 50 + x + c * 7));
        EXPECT_EQ(rgb[o + c], uint8_t(r * 50 + x + (2 - c) * 7));
      }
    }
  }
  EXPECT_EQ(PackedSize(0, 5), 0u);
  EXPECT_EQ(PackedSize(40000, 40000), 0u);  // past 32 bits
  EXPECT_EQ(PackedSize(-1, 5), 0u);
}

}  // namespace
