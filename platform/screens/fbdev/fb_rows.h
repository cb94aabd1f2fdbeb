// Row converters for framebuffer layouts the screen formats do not cover.
#pragma once

#include <stdint.h>

namespace kplat {
namespace fbdev {

// Unpacks count pixels of bitsPerPixel (1, 2 or 4) bits into one byte each,
// starting at pixel `first` of src. The leftmost pixel sits in the highest
// bits of its byte, as the kernel's packed-pixel drawing code lays them out.
void UnpackIndexRow(const uint8_t *src, uint32_t first, int count,
                    int bitsPerPixel, uint8_t *dst);

// How the pixels of a 16, 24 or 32-bit truecolour or directcolour layout
// become 32-bit pixels: each channel's raw field value looks up its output
// value, which already has any bit reversal, scaling or colour map applied.
struct ChannelMap {
  static constexpr int kMaxFieldBits = 10;
  int bytesPerPixel;      // of the source: 2, 3 or 4, little-endian
  int fieldShift[3];      // red, green, blue
  uint32_t fieldMask[3];  // after the shift
  int outShift[3];        // where each output value goes in the 32-bit pixel
  uint16_t table[3][1 << kMaxFieldBits];
};

// Converts count source pixels into little-endian 32-bit pixels at dst
// (which need not be aligned).
void MapChannelRow(const uint8_t *src, int count, const ChannelMap &map,
                   uint8_t *dst);

}  // namespace fbdev
}  // namespace kplat
