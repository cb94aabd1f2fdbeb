// Row layout of server images and the copy into the caller's buffer.
#include "x11_rows.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using kplat::x11::CopyRows;
using kplat::x11::PaddedRowBytes;

TEST(PaddedRowBytes, PadsEachRowToTheScanlineUnit) {
  EXPECT_EQ(PaddedRowBytes(243, 16, 32), 488u);  // 486 bytes, padded to 4
  EXPECT_EQ(PaddedRowBytes(240, 16, 32), 480u);
  EXPECT_EQ(PaddedRowBytes(241, 24, 32), 724u);  // 723 bytes
  EXPECT_EQ(PaddedRowBytes(241, 32, 32), 964u);
  EXPECT_EQ(PaddedRowBytes(5, 8, 32), 8u);
  EXPECT_EQ(PaddedRowBytes(5, 8, 8), 5u);
  EXPECT_EQ(PaddedRowBytes(3, 16, 64), 8u);
}

TEST(PaddedRowBytes, RefusesMeaninglessInput) {
  EXPECT_EQ(PaddedRowBytes(0, 16, 32), 0u);
  EXPECT_EQ(PaddedRowBytes(-4, 16, 32), 0u);
  EXPECT_EQ(PaddedRowBytes(4, 16, 0), 0u);
}

TEST(CopyRows, DropsServerPaddingAndHonoursTheDestinationStride) {
  // Two rows of three 16-bit pixels, padded to 8 bytes by the server.
  const uint8_t src[16] = {1, 2, 3, 4,  5,  6,  0xAA, 0xAA,
                           7, 8, 9, 10, 11, 12, 0xAA, 0xAA};
  std::vector<uint8_t> dst(2 * 10, 0);
  CopyRows(src, 8, dst.data(), 10, 3, 2, 2, false);
  const std::vector<uint8_t> want = {1, 2, 3, 4,  5,  6,  0, 0, 0, 0,
                                     7, 8, 9, 10, 11, 12, 0, 0, 0, 0};
  EXPECT_EQ(dst, want);
}

TEST(CopyRows, NegativeStrideFillsFromTheLastRowUp) {
  const uint8_t src[6] = {1, 2, 3, 4, 5, 6};  // three rows of one 16-bit pixel
  uint8_t dst[6] = {};
  CopyRows(src, 2, dst + 4, -2, 1, 3, 2, false);
  const uint8_t want[6] = {5, 6, 3, 4, 1, 2};
  EXPECT_EQ(0, memcmp(dst, want, 6));
}

TEST(CopyRows, SwapsMostSignificantFirstPixels) {
  const uint8_t src16[4] = {0x12, 0x34, 0x56, 0x78};
  uint8_t dst16[4];
  CopyRows(src16, 4, dst16, 4, 2, 1, 2, true);
  const uint8_t want16[4] = {0x34, 0x12, 0x78, 0x56};
  EXPECT_EQ(0, memcmp(dst16, want16, 4));

  const uint8_t src24[6] = {1, 2, 3, 4, 5, 6};
  uint8_t dst24[6];
  CopyRows(src24, 6, dst24, 6, 2, 1, 3, true);
  const uint8_t want24[6] = {3, 2, 1, 6, 5, 4};
  EXPECT_EQ(0, memcmp(dst24, want24, 6));

  const uint8_t src32[4] = {0x00, 0xAA, 0xBB, 0xCC};
  uint8_t dst32[4];
  CopyRows(src32, 4, dst32, 4, 1, 1, 4, true);
  const uint8_t want32[4] = {0xCC, 0xBB, 0xAA, 0x00};
  EXPECT_EQ(0, memcmp(dst32, want32, 4));
}

TEST(CopyRows, EightBitPixelsHaveNoByteOrder) {
  const uint8_t src[3] = {7, 8, 9};
  uint8_t dst[3];
  CopyRows(src, 3, dst, 3, 3, 1, 1, true);
  const uint8_t want[3] = {7, 8, 9};
  EXPECT_EQ(0, memcmp(dst, want, 3));
}

}  // namespace
