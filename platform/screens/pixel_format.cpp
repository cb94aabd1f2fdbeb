#include <string.h>

#include "display.h"

namespace kplat {
namespace {

int CountBits(uint32_t v) { return __builtin_popcount(v); }

// A channel mask is a single run of 1 bits.
bool IsContiguous(uint32_t mask) {
  if (mask == 0) return false;
  uint32_t shifted = mask >> __builtin_ctz(mask);
  return (shifted & (shifted + 1)) == 0;
}

}  // namespace

bool IsSupportedFormat(const PixelFormat &f) {
  if (f.IsPalettised()) return f.bitsPerPixel == 8;
  const uint32_t masks[3] = {f.redMask, f.greenMask, f.blueMask};
  for (uint32_t m : masks)
    if (!IsContiguous(m)) return false;
  if ((f.redMask & f.greenMask) || (f.redMask & f.blueMask) ||
      (f.greenMask & f.blueMask))
    return false;
  const int r = CountBits(f.redMask), g = CountBits(f.greenMask),
            b = CountBits(f.blueMask);
  const uint64_t all = uint64_t(f.redMask) | f.greenMask | f.blueMask;
  switch (f.bitsPerPixel) {
    case 16:
      return all <= 0xFFFF && r == 5 && b == 5 && (g == 5 || g == 6);
    case 24:
      return all <= 0xFFFFFF && r == 8 && g == 8 && b == 8;
    case 32:
      return (r == 8 && g == 8 && b == 8) || (r == 10 && g == 10 && b == 10);
    default:
      return false;
  }
}

bool SameFormat(const PixelFormat &a, const PixelFormat &b) {
  if (a.bitsPerPixel != b.bitsPerPixel || a.redMask != b.redMask ||
      a.greenMask != b.greenMask || a.blueMask != b.blueMask)
    return false;
  return !a.IsPalettised() ||
         memcmp(a.palette, b.palette, sizeof(a.palette)) == 0;
}

bool FitsSizeCeiling(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
    return false;
  const int64_t row = (width * 3 + 3) & ~int64_t(3);
  return height <= INT32_MAX / row;
}

const PixelFormat &Bgr24Format() {
  static const PixelFormat kBgr24 = {24, 0xFF0000, 0x00FF00, 0x0000FF, {}};
  return kBgr24;
}

uint8_t Scale16To8(uint16_t value) {
  return uint8_t((uint32_t(value) * 255 + 32767) / 65535);
}

}  // namespace kplat
