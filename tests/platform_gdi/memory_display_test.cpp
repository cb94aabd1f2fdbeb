// The memory display refuses what it cannot show and keeps what it had.
#include "display.h"
#include "gdi_test_support.h"

namespace {

using MemoryDisplayTest = gditest::GdiTest;

TEST_F(MemoryDisplayTest, RefusesBadInstallsAndReads) {
  uint32_t px[16] = {};
  const KTestDisplayFormat &good = gditest::kXrgb32;
  const KTestDisplayFormat rgb444 = {16, 0xF00, 0xF0, 0xF, nullptr};
  const KTestDisplayFormat noPalette = {8, 0, 0, 0, nullptr};
  ASSERT_EQ(1, KTestInstallMemoryDisplay(2, 3, &good, px, 8));
  EXPECT_EQ(0, KTestInstallMemoryDisplay(4, 4, &rgb444, px, 8));
  EXPECT_EQ(0, KTestInstallMemoryDisplay(4, 4, &noPalette, px, 4));
  EXPECT_EQ(0, KTestInstallMemoryDisplay(0, 4, &good, px, 16));
  EXPECT_EQ(0, KTestInstallMemoryDisplay(4, -1, &good, px, 16));
  EXPECT_EQ(0, KTestInstallMemoryDisplay(4, 4, &good, px, 15));  // stride
  EXPECT_EQ(0, KTestInstallMemoryDisplay(4, 4, nullptr, px, 16));
  EXPECT_EQ(0, KTestInstallMemoryDisplay(4, 4, &good, nullptr, 16));
  EXPECT_EQ(0, KTestInstallMemoryDisplay(INT32_MAX, 2, &good, px, SIZE_MAX));
  EXPECT_EQ(0, KTestInstallMemoryDisplay(30000, 30000, &good, px, 120000));
  kplat::Display *d = kplat::CurrentDisplay();
  int w = 0, h = 0;
  ASSERT_TRUE(d->GetSize(&w, &h));
  EXPECT_TRUE(w == 2 && h == 3);
  uint8_t out[16];
  EXPECT_TRUE(d->ReadPixels(1, 1, 1, 2, out, 4));
  EXPECT_FALSE(d->ReadPixels(1, 0, 2, 1, out, 8));
  EXPECT_FALSE(d->ReadPixels(0, -1, 1, 1, out, 4));
  EXPECT_FALSE(d->ReadPixels(0, 2, 1, 2, out, 4));
}

}  // namespace
