// Device contexts and bitmaps: selection and deletion rules, handle
// checking, bitmap records, device capabilities and size limits.
#include <vector>

#include "display.h"
#include "gdi_test_support.h"

namespace {

using gditest::MakeSection;

using ObjectRulesTest = gditest::GdiTest;

TEST_F(ObjectRulesTest, ABitmapLivesInOneDCAndOutlivesIt) {
  gditest::InstallPatternScreen(4, 4);
  HDC screen = GetDC(nullptr);
  HDC a = CreateCompatibleDC(screen), b = CreateCompatibleDC(nullptr);
  uint8_t *bits;
  HBITMAP s = MakeSection(4, 4, &bits);
  HBITMAP c = CreateCompatibleBitmap(screen, 4, 4);
  ASSERT_TRUE(a && b && s && c);
  HGDIOBJ stock = SelectObject(a, s);
  ASSERT_NE(nullptr, stock);
  EXPECT_EQ(s, SelectObject(a, s));        // reselecting returns itself
  EXPECT_EQ(nullptr, SelectObject(b, s));  // a holds it
  EXPECT_EQ(stock, SelectObject(b, c));    // every DC starts with the stock
  EXPECT_FALSE(DeleteObject(s));           // refused while selected
  EXPECT_FALSE(DeleteObject(stock));
  EXPECT_TRUE(DeleteDC(a));  // s survives, free for b
  EXPECT_EQ(c, SelectObject(b, s));
  EXPECT_TRUE(DeleteObject(c));  // unselected by the swap
  EXPECT_EQ(s, SelectObject(b, stock));
  // Screen and memory DCs are not interchangeable.
  EXPECT_EQ(nullptr, SelectObject(screen, s));
  EXPECT_FALSE(DeleteDC(screen));
  EXPECT_EQ(0, ReleaseDC(nullptr, b));
  EXPECT_EQ(0, ReleaseDC(reinterpret_cast<HWND>(b), screen));
  EXPECT_EQ(nullptr, GetDC(reinterpret_cast<HWND>(b)));
  EXPECT_FALSE(DeleteObject(b));
  EXPECT_TRUE(DeleteObject(s));
  EXPECT_TRUE(DeleteDC(b));
  EXPECT_EQ(1, ReleaseDC(nullptr, screen));
}

TEST_F(ObjectRulesTest, StaleAndGarbageHandlesFailCleanly) {
  gditest::InstallPatternScreen(4, 4);
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  uint8_t *bits;
  HBITMAP s = MakeSection(4, 4, &bits);
  ASSERT_TRUE(DeleteObject(s) && DeleteDC(mem) && ReleaseDC(nullptr, screen));
  // New objects may reuse the slots; the old handles must stay dead.
  HDC mem2 = CreateCompatibleDC(nullptr);
  HBITMAP s2 = MakeSection(4, 4, &bits);
  int local = 0;
  std::vector<void *> dead = {screen, mem, s, &local};
  for (uintptr_t g : {uintptr_t(1), uintptr_t(0x7FFFFFFF),
                      uintptr_t(0xDEADBEEF), UINTPTR_MAX})
    dead.push_back(reinterpret_cast<void *>(g));
  BITMAP bm;
  for (void *h : dead) {
    HDC dc = static_cast<HDC>(h);
    EXPECT_EQ(0, ReleaseDC(nullptr, dc));
    EXPECT_FALSE(DeleteDC(dc) || DeleteObject(h));
    EXPECT_EQ(0, GetObject(h, sizeof(bm), &bm) + GetObject(h, 0, nullptr));
    EXPECT_EQ(0, GetDeviceCaps(dc, HORZRES));
    EXPECT_EQ(nullptr, CreateCompatibleDC(dc));
    EXPECT_EQ(nullptr, CreateCompatibleBitmap(dc, 2, 2));
    EXPECT_EQ(nullptr, SelectObject(dc, s2));
    EXPECT_EQ(nullptr, SelectObject(mem2, h));
    EXPECT_FALSE(BitBlt(mem2, 0, 0, 1, 1, dc, 0, 0, SRCCOPY) ||
                 BitBlt(dc, 0, 0, 1, 1, mem2, 0, 0, SRCCOPY));
  }
  EXPECT_TRUE(DeleteObject(s2) && DeleteDC(mem2));
}

TEST_F(ObjectRulesTest, BitmapRecordsAndFormats) {
  std::vector<uint16_t> px(15);
  ASSERT_EQ(1,
            KTestInstallMemoryDisplay(5, 3, &gditest::kRgb565, px.data(), 10));
  HDC mem = CreateCompatibleDC(nullptr);
  uint8_t *up, *down;
  HBITMAP cb = CreateCompatibleBitmap(mem, 5, 3);  // stock selected: screen's
  HBITMAP bu = MakeSection(5, 3, &up), td = MakeSection(5, -3, &down);
  HGDIOBJ stock = SelectObject(mem, td);
  HBITMAP cs = CreateCompatibleBitmap(mem, 5, 3);  // the section's 24 bits
  SelectObject(mem, stock);
  const HBITMAP handles[] = {cb, cs, bu, td};
  const LONG widthBytes[] = {12, 16, 16, 16};
  const void *pixels[] = {nullptr, nullptr, up, down};
  for (int i = 0; i < 4; ++i) {
    BITMAP bm;
    ASSERT_EQ(int(sizeof(BITMAP)), GetObject(handles[i], sizeof(bm), &bm));
    EXPECT_TRUE(bm.bmType == 0 && bm.bmWidth == 5 && bm.bmHeight == 3 &&
                bm.bmPlanes == 1 && bm.bmBits == pixels[i]);
    EXPECT_EQ(widthBytes[i], bm.bmWidthBytes);
    EXPECT_EQ(i == 0 ? 16 : 24, bm.bmBitsPixel);
    EXPECT_EQ(int(sizeof(BITMAP)), GetObject(handles[i], 0, nullptr));
    EXPECT_EQ(0, GetObject(handles[i], sizeof(BITMAP) - 1, &bm));
  }
  for (int y = 0; y < 3; ++y) EXPECT_EQ(0, up[y * 16 + 15]);  // row padding
  EXPECT_EQ(2, KTestGetLiveObjects().bitmaps);
  EXPECT_EQ(2, KTestGetLiveObjects().sections);
  for (HBITMAP h : handles) EXPECT_TRUE(DeleteObject(h));
  EXPECT_TRUE(DeleteDC(mem));
}

TEST_F(ObjectRulesTest, RefusesBadAndOverflowingSizes) {
  gditest::InstallPatternScreen(4, 4);
  HDC screen = GetDC(nullptr);
  // 0, negative, over 2 GiB, and beyond 64-bit products of the two.
  const int compat[][2] = {
      {0, 4}, {4, -1}, {23171, 23171}, {INT32_MAX, INT32_MAX}};
  const int section[][2] = {
      {0, 4}, {4, 0}, {26755, -26755}, {INT32_MAX, INT32_MAX}};
  for (int i = 0; i < 4; ++i) {
    uint8_t *bits = reinterpret_cast<uint8_t *>(screen);
    EXPECT_EQ(nullptr,
              CreateCompatibleBitmap(screen, compat[i][0], compat[i][1]));
    EXPECT_EQ(nullptr, MakeSection(section[i][0], section[i][1], &bits));
    EXPECT_EQ(nullptr, bits);
  }
  uint8_t *bits;
  EXPECT_EQ(nullptr, MakeSection(1, INT32_MIN, &bits));
  EXPECT_EQ(nullptr, MakeSection(INT32_MAX / 3, 2, &bits));  // stride > 2 GiB
  EXPECT_EQ(nullptr, CreateCompatibleBitmap(nullptr, 4, 4));
  BITMAPINFO bi[4];  // only 24-bit BI_RGB headers of one plane and 40 bytes
  for (BITMAPINFO &b : bi) b = gditest::SectionInfo(4, 4);
  bi[0].bmiHeader.biBitCount = 32;
  bi[1].bmiHeader.biCompression = BI_BITFIELDS;
  bi[2].bmiHeader.biPlanes = 2;
  bi[3].bmiHeader.biSize = 12;
  void *pv;
  for (const BITMAPINFO &b : bi)
    EXPECT_EQ(nullptr,
              CreateDIBSection(screen, &b, DIB_RGB_COLORS, &pv, nullptr, 0));
  EXPECT_EQ(0, KTestGetLiveObjects().bitmaps + KTestGetLiveObjects().sections);
  EXPECT_EQ(1, ReleaseDC(nullptr, screen));
}

// A compatible bitmap whose 24-bit copy would pass 2 GiB is refused, however
// few bytes its own pixels take: the screen is then never read for nothing.
TEST_F(ObjectRulesTest, RefusesABitmapWhoseSectionCouldNotBeMade) {
  RGBQUAD palette[256] = {};
  const KTestDisplayFormat indexed = {8, 0, 0, 0, palette};
  const uint8_t pixels[8] = {};  // two rows of up to 4 bytes
  for (const KTestDisplayFormat &format : {indexed, gditest::kRgb565}) {
    ASSERT_EQ(1, KTestInstallMemoryDisplay(2, 2, &format, pixels, 2 * 2));
    HDC screen = GetDC(nullptr);
    // 27000 x 27000 x 3 and 26755 x 26755 x 3 pass 2^31 - 1 bytes.
    EXPECT_EQ(nullptr, CreateCompatibleBitmap(screen, 27000, 27000));
    EXPECT_EQ(nullptr, CreateCompatibleBitmap(screen, 26755, 26755));
    HBITMAP wide = CreateCompatibleBitmap(screen, 26754, 64);
    EXPECT_NE(nullptr, wide);
    EXPECT_TRUE(DeleteObject(wide));
    EXPECT_EQ(1, ReleaseDC(nullptr, screen));
  }
}

// A screen context shows one frame from GetDC to ReleaseDC: a screen that
// changes meanwhile is seen by the next context, never half by this one.
TEST_F(ObjectRulesTest, DeviceCapsHoldOneFramePerScreenContext) {
  HDC mem = CreateCompatibleDC(nullptr);  // needs no display
  ASSERT_NE(nullptr, mem);
  const bool noSystemScreen = kplat::CurrentDisplay() == nullptr;
  if (noSystemScreen) {
    EXPECT_EQ(nullptr, GetDC(nullptr));
    EXPECT_EQ(0, GetDeviceCaps(mem, HORZRES) + GetDeviceCaps(mem, PLANES));
    EXPECT_EQ(nullptr, CreateCompatibleBitmap(mem, 2, 2));
  }
  gditest::InstallPatternScreen(240, 320);
  HDC screen = GetDC(nullptr);
  ASSERT_NE(nullptr, screen);
  for (HDC dc : {screen, mem})
    EXPECT_TRUE(GetDeviceCaps(dc, HORZRES) == 240 &&
                GetDeviceCaps(dc, VERTRES) == 320 &&
                GetDeviceCaps(dc, BITSPIXEL) == 32 &&
                GetDeviceCaps(dc, PLANES) == 1 && GetDeviceCaps(dc, 88) == 0);
  std::vector<uint16_t> px(320 * 240);
  ASSERT_EQ(1, KTestInstallMemoryDisplay(320, 240, &gditest::kRgb565, px.data(),
                                         640));
  HDC second = GetDC(nullptr);  // joins the live frame
  EXPECT_TRUE(GetDeviceCaps(screen, HORZRES) == 240 &&
              GetDeviceCaps(second, VERTRES) == 320 &&
              GetDeviceCaps(mem, BITSPIXEL) == 32);
  // The frame's size and format, but the screen has changed: no pixels.
  HBITMAP bm = CreateCompatibleBitmap(screen, 240, 320);
  ASSERT_NE(nullptr, bm);
  HGDIOBJ old = SelectObject(mem, bm);
  EXPECT_FALSE(BitBlt(mem, 0, 0, 240, 320, screen, 0, 0, SRCCOPY));
  SelectObject(mem, old);
  EXPECT_TRUE(DeleteObject(bm));
  EXPECT_EQ(1, ReleaseDC(nullptr, second));
  EXPECT_EQ(1, ReleaseDC(nullptr, screen));
  screen = GetDC(nullptr);  // a new frame sees the change
  EXPECT_TRUE(GetDeviceCaps(screen, HORZRES) == 320 &&
              GetDeviceCaps(screen, VERTRES) == 240 &&
              GetDeviceCaps(mem, BITSPIXEL) == 16);
  EXPECT_EQ(1, ReleaseDC(nullptr, screen));
  if (noSystemScreen) {
    KTestRemoveMemoryDisplay();
    EXPECT_EQ(0, GetDeviceCaps(mem, HORZRES));
  }
  EXPECT_TRUE(DeleteDC(mem));
}

}  // namespace
