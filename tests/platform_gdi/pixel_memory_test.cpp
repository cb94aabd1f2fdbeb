// Screen-sized pixel blocks: mapped on their own, a call's worth kept for
// the next, refusable like any allocation, and none kept after unload.
#include "pixel_memory.h"

#include <sys/mman.h>
#include <wincrt.h>

#include "gdi_test_support.h"

namespace {

using PixelMemoryTest = gditest::GdiTest;

const size_t kScreen = size_t(1920) * 1080 * 3;  // a 1080p section

// Whether the page at p is mapped (mincore fails with ENOMEM when not).
bool Mapped(const uint8_t *p) {
  unsigned char v;
  void *page = reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(p) &
                                        ~uintptr_t(4095));
  return mincore(page, 4096, &v) == 0;
}

TEST_F(PixelMemoryTest, AFreedScreenBlockServesTheNextOfItsSize) {
  uint8_t *a = kplat::gdi::AllocatePixels(kScreen);
  ASSERT_NE(a, nullptr);
  a[0] = 1;
  a[kScreen - 1] = 2;  // the whole block is writable
  kplat::gdi::ReleasePixels(a, kScreen);
  // A size that maps to as many pages.
  uint8_t *b = kplat::gdi::AllocatePixels(kScreen - 100);
  EXPECT_EQ(b, a);
  // A block of another length is mapped afresh.
  uint8_t *c = kplat::gdi::AllocatePixels(kScreen * 2);
  ASSERT_NE(c, nullptr);
  EXPECT_NE(c, b);
  kplat::gdi::ReleasePixels(b, kScreen - 100);
  kplat::gdi::ReleasePixels(c, kScreen * 2);
  uint8_t *d = kplat::gdi::AllocatePixels(kScreen * 2);
  EXPECT_EQ(d, c);
  kplat::gdi::ReleasePixels(d, kScreen * 2);
}

// A call holds three screen-sized blocks (bitmap, surface, packed buffer):
// all three come back in the next call, and a fourth pushes out the oldest.
TEST_F(PixelMemoryTest, ACallsThreeBlocksServeTheNextCall) {
  const size_t kSmall = size_t(240) * 320 * 3;
  uint8_t *held[4];
  for (uint8_t *&p : held) {
    p = kplat::gdi::AllocatePixels(kSmall);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u);  // mapped
  }
  for (int i = 0; i < 4; ++i) kplat::gdi::ReleasePixels(held[i], kSmall);
  EXPECT_FALSE(Mapped(held[0]));
  for (int i = 3; i >= 1; --i) {
    uint8_t *p = kplat::gdi::AllocatePixels(kSmall);
    EXPECT_EQ(p, held[i]);
    held[i] = p;
  }
  for (int i = 1; i < 4; ++i) kplat::gdi::ReleasePixels(held[i], kSmall);
}

// The module's packed buffer is such a block, handed back by its free.
TEST_F(PixelMemoryTest, TheModulesScreenSizedBlocksAreKept) {
  void *a = CrtModuleMalloc(kScreen);
  ASSERT_NE(a, nullptr);
  CrtModuleFree(a);
  void *small = CrtModuleMalloc(64);  // the C heap's: not a kept block
  ASSERT_NE(small, nullptr);
  void *b = CrtModuleMalloc(kScreen);
  EXPECT_EQ(b, a);
  CrtModuleFree(small);
  CrtModuleFree(b);
}

TEST_F(PixelMemoryTest, ARefusedScreenBlockFailsTheSection) {
  KTestFailNth(KTEST_OP_MALLOC, 2);  // the bitmap record, then its pixels
  uint8_t *bits = nullptr;
  EXPECT_EQ(gditest::MakeSection(1920, 1080, &bits), nullptr);
  EXPECT_EQ(bits, nullptr);
  HBITMAP ok = gditest::MakeSection(1920, 1080, &bits);
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(DeleteObject(ok));
}

// After unload a host's late call may still make bitmaps: nothing freed at
// unload is handed out, and nothing more is kept.
TEST_F(PixelMemoryTest, NothingIsKeptOnceStopped) {
  uint8_t *a = kplat::gdi::AllocatePixels(kScreen);
  ASSERT_NE(a, nullptr);
  kplat::gdi::ReleasePixels(a, kScreen);
  kplat::gdi::StopKeepingPixels();
  EXPECT_FALSE(Mapped(a));
  uint8_t *b = kplat::gdi::AllocatePixels(kScreen);
  ASSERT_NE(b, nullptr);
  kplat::gdi::ReleasePixels(b, kScreen);
  EXPECT_FALSE(Mapped(b));
}

}  // namespace
