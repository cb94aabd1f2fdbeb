#include "fb_rows.h"

#include <gtest/gtest.h>
#include <string.h>

#include <vector>

namespace kplat {
namespace fbdev {
namespace {

std::vector<uint8_t> Unpack(std::vector<uint8_t> src, uint32_t first, int count,
                            int bpp) {
  std::vector<uint8_t> out(size_t(count) + 1, 0xEE);
  UnpackIndexRow(src.data(), first, count, bpp, out.data());
  EXPECT_EQ(out.back(), 0xEE) << "wrote past the row";
  out.pop_back();
  return out;
}

TEST(UnpackIndexRow, LeftmostPixelInTheHighBits) {
  EXPECT_EQ(Unpack({0xA5, 0x80}, 0, 9, 1),
            (std::vector<uint8_t>{1, 0, 1, 0, 0, 1, 0, 1, 1}));
  EXPECT_EQ(Unpack({0x1B, 0xC0}, 0, 5, 2),
            (std::vector<uint8_t>{0, 1, 2, 3, 3}));
  EXPECT_EQ(Unpack({0x3C, 0xF1}, 0, 4, 4),
            (std::vector<uint8_t>{3, 12, 15, 1}));
}

TEST(UnpackIndexRow, StartsMidByte) {
  // Panning by a pixel count that is not a whole byte.
  EXPECT_EQ(Unpack({0x0F, 0x80}, 5, 4, 1), (std::vector<uint8_t>{1, 1, 1, 1}));
  EXPECT_EQ(Unpack({0x0F, 0x80}, 7, 2, 1), (std::vector<uint8_t>{1, 1}));
  EXPECT_EQ(Unpack({0x1B, 0x40}, 3, 2, 2), (std::vector<uint8_t>{3, 1}));
  EXPECT_EQ(Unpack({0x3C, 0xF1}, 1, 2, 4), (std::vector<uint8_t>{12, 15}));
}

ChannelMap IdentityMap(int bytes, const int shifts[3], int bits) {
  ChannelMap map;
  memset(&map, 0, sizeof(map));
  map.bytesPerPixel = bytes;
  for (int c = 0; c < 3; ++c) {
    map.fieldShift[c] = shifts[c];
    map.fieldMask[c] = (1u << bits) - 1;
    map.outShift[c] = 8 * (2 - c);
    for (uint32_t v = 0; v <= map.fieldMask[c]; ++v)
      map.table[c][v] = uint16_t(v + 1 + c);  // tells channels apart
  }
  return map;
}

TEST(MapChannelRow, ReadsLittleEndianPixelsOfEachSize) {
  const int rgb[3] = {0, 4, 8};
  // Two 16-bit pixels: fields 0x3, 0x2, 0x1 then 0xF, 0x0, 0xA.
  const uint8_t src16[] = {0x23, 0x01, 0x0F, 0x0A};
  uint8_t out[9] = {};
  MapChannelRow(src16, 2, IdentityMap(2, rgb, 4), out);
  EXPECT_EQ(memcmp(out, "\x04\x04\x04\x00\x0D\x02\x10\x00", 8), 0);

  const int bgr[3] = {16, 8, 0};
  const uint8_t src24[] = {0x10, 0x20, 0x30};
  memset(out, 0, sizeof(out));
  MapChannelRow(src24, 1, IdentityMap(3, bgr, 8), out);
  EXPECT_EQ(memcmp(out, "\x13\x22\x31\x00", 4), 0);

  const uint8_t src32[] = {0x01, 0x02, 0x03, 0xFF};
  memset(out, 0xAA, sizeof(out));
  MapChannelRow(src32, 1, IdentityMap(4, bgr, 8), out);
  EXPECT_EQ(memcmp(out, "\x04\x04\x04\x00\xAA", 5), 0);
}

TEST(MapChannelRow, WritesUnalignedDestinations) {
  const int bgr[3] = {16, 8, 0};
  const uint8_t src[] = {0, 0, 0, 0, 5, 6, 7, 0};
  uint8_t out[12] = {};
  MapChannelRow(src, 2, IdentityMap(4, bgr, 8), out + 1);
  EXPECT_EQ(memcmp(out, "\x00\x03\x02\x01\x00\x08\x08\x08\x00", 9), 0);
}

}  // namespace
}  // namespace fbdev
}  // namespace kplat
