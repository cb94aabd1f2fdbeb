// The memory display refuses what it cannot show and keeps what it had.
#include "display_probe.h"
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
  ktest::DisplayProbe probe(kplat::CurrentDisplay());
  ktest::DisplayProbe *d = &probe;
  int w = 0, h = 0;
  ASSERT_TRUE(d->GetSize(&w, &h));
  EXPECT_TRUE(w == 2 && h == 3);
  uint8_t out[16];
  EXPECT_TRUE(d->ReadPixels(1, 1, 1, 2, out, 4));
  EXPECT_FALSE(d->ReadPixels(1, 0, 2, 1, out, 8));
  EXPECT_FALSE(d->ReadPixels(0, -1, 1, 1, out, 4));
  EXPECT_FALSE(d->ReadPixels(0, 2, 1, 2, out, 4));
}

// A frame holds the size and format it began with: pixels of another
// screen are refused, not read into a bitmap laid out for the first.
TEST_F(MemoryDisplayTest, ReadsOnlyTheFrameItBegan) {
  uint32_t px[16] = {};
  ASSERT_EQ(1, KTestInstallMemoryDisplay(4, 4, &gditest::kXrgb32, px, 16));
  kplat::Display *d = kplat::CurrentDisplay();
  kplat::Frame frame;
  ASSERT_TRUE(d->BeginFrame(&frame));
  ASSERT_EQ(1, KTestInstallMemoryDisplay(2, 8, &gditest::kXrgb32, px, 8));
  uint8_t out[64];
  EXPECT_FALSE(d->ReadPixels(frame, 0, 0, 2, 2, out, 16));
  d->EndFrame();
  ASSERT_TRUE(d->BeginFrame(&frame));
  EXPECT_TRUE(frame.width == 2 && frame.height == 8);
  EXPECT_TRUE(d->ReadPixels(frame, 0, 0, 2, 8, out, 8));
  d->EndFrame();
}

}  // namespace
