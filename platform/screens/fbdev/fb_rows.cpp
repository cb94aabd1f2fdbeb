#include "fb_rows.h"

namespace kplat {
namespace fbdev {

void UnpackIndexRow(const uint8_t *src, uint32_t first, int count,
                    int bitsPerPixel, uint8_t *dst) {
  const int perByte = 8 / bitsPerPixel;
  const unsigned mask = (1u << bitsPerPixel) - 1;
  const uint8_t *byte = src + first / perByte;
  int slot = int(first % perByte);
  for (int i = 0; i < count; ++i) {
    const int shift = 8 - bitsPerPixel * (slot + 1);
    dst[i] = uint8_t((*byte >> shift) & mask);
    if (++slot == perByte) {
      slot = 0;
      ++byte;
    }
  }
}

void MapChannelRow(const uint8_t *src, int count, const ChannelMap &map,
                   uint8_t *dst) {
  const int bytes = map.bytesPerPixel;
  for (int i = 0; i < count; ++i, src += bytes, dst += 4) {
    uint32_t pixel = 0;
    for (int b = 0; b < bytes; ++b) pixel |= uint32_t(src[b]) << (8 * b);
    uint32_t out = 0;
    for (int c = 0; c < 3; ++c) {
      const uint32_t raw = (pixel >> map.fieldShift[c]) & map.fieldMask[c];
      out |= uint32_t(map.table[c][raw]) << map.outShift[c];
    }
    for (int b = 0; b < 4; ++b) dst[b] = uint8_t(out >> (8 * b));
  }
}

}  // namespace fbdev
}  // namespace kplat
