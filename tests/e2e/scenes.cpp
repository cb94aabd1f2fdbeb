#include "scenes.h"

#include <math.h>

namespace ktest {
namespace {

uint8_t Channel(uint32_t pixel, uint32_t mask) {
  const int shift = __builtin_ctz(mask);
  const double max = double(mask >> shift);
  return uint8_t(lround(double((pixel & mask) >> shift) * 255.0 / max));
}

}  // namespace

bool ExpectedRgb(const std::string &display, const ServerImage &screen,
                 Image *rgb) {
  std::vector<std::array<uint8_t, 3>> palette;
  const bool colormapped = screen.depth == 8;
  if (colormapped && !ReadPalette(display, &palette)) return false;
  rgb->width = screen.width;
  rgb->height = screen.height;
  rgb->rgb.resize(size_t(screen.width) * screen.height * 3);
  for (size_t i = 0; i < screen.pixels.size(); ++i) {
    const uint32_t p = screen.pixels[i];
    uint8_t *out = &rgb->rgb[i * 3];
    if (colormapped) {
      for (int c = 0; c < 3; ++c) out[c] = palette[p & 0xFF][c];
    } else {
      out[0] = Channel(p, screen.redMask);
      out[1] = Channel(p, screen.greenMask);
      out[2] = Channel(p, screen.blueMask);
    }
  }
  return true;
}

}  // namespace ktest
