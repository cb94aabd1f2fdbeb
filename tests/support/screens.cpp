#include "screens.h"

#include <string.h>

#include "kestrel_testing.h"

namespace ktest {
namespace {

uint32_t Mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// The value of one channel scaled to 8 bits, rounding to nearest.
uint8_t Channel(uint32_t pixel, uint32_t mask) {
  int shift = 0;
  while (!((mask >> shift) & 1)) ++shift;
  const uint32_t max = mask >> shift;
  const uint32_t v = (pixel & mask) >> shift;
  return uint8_t((v * 255 + max / 2) / max);
}

}  // namespace

const std::vector<ScreenFormat> &AllScreenFormats() {
  static const std::vector<ScreenFormat> kFormats = {
      {"Palette8", 8, 0, 0, 0},
      {"Rgb555", 16, 0x7C00, 0x03E0, 0x001F},
      {"Rgb565", 16, 0xF800, 0x07E0, 0x001F},
      {"Rgb888", 24, 0xFF0000, 0x00FF00, 0x0000FF},
      {"Xrgb8888", 32, 0xFF0000, 0x00FF00, 0x0000FF},
      {"Xbgr8888", 32, 0x0000FF, 0x00FF00, 0xFF0000},
      {"Xrgb2101010", 32, 0x3FF00000, 0x000FFC00, 0x000003FF},
  };
  return kFormats;
}

bool InstallPatternScreen(const ScreenFormat &f, int w, int h, uint32_t seed,
                          Image *expected) {
  const int bytes = (f.bitsPerPixel + 7) / 8;
  const size_t stride =
      size_t(w) * bytes + 3;  // not a multiple of 4 on purpose
  std::vector<uint8_t> pixels(stride * h, 0xEE);
  RGBQUAD palette[256];
  for (int i = 0; i < 256; ++i) {
    const uint32_t m = Mix(uint32_t(i) * 2654435761U + seed);
    palette[i] = {uint8_t(m), uint8_t(m >> 8), uint8_t(m >> 16), 0};
  }
  const bool paletted = f.redMask == 0;

  expected->width = w;
  expected->height = h;
  expected->rgb.assign(size_t(w) * h * 3, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      // Mostly noise, with full-scale and zero values in the first rows so
      // the channel extremes always occur.
      uint32_t p = Mix(uint32_t(y * w + x) ^ seed);
      if (y == 0) p = (x & 1) ? 0xFFFFFFFFu : 0;
      if (y == 1)
        p = (x % 3 == 0) ? f.redMask : (x % 3 == 1) ? f.greenMask : f.blueMask;
      uint8_t *rgb = &expected->rgb[(size_t(y) * w + x) * 3];
      if (paletted) {
        p &= 0xFF;
        rgb[0] = palette[p].rgbRed;
        rgb[1] = palette[p].rgbGreen;
        rgb[2] = palette[p].rgbBlue;
      } else {
        // Bits outside the channels hold noise: the library must ignore them.
        if (bytes < 4) p &= (1u << (8 * bytes)) - 1;
        rgb[0] = Channel(p, f.redMask);
        rgb[1] = Channel(p, f.greenMask);
        rgb[2] = Channel(p, f.blueMask);
      }
      uint8_t *dst = &pixels[size_t(y) * stride + size_t(x) * bytes];
      for (int k = 0; k < bytes; ++k) dst[k] = uint8_t(p >> (8 * k));
    }
  }
  KTestDisplayFormat fmt = {f.bitsPerPixel, f.redMask, f.greenMask, f.blueMask,
                            paletted ? palette : nullptr};
  return KTestInstallMemoryDisplay(w, h, &fmt, pixels.data(), stride) != 0;
}

bool InstallRgbScreen(const Image &picture) {
  const size_t stride = size_t(picture.width) * 3;
  std::vector<uint8_t> pixels(stride * picture.height);
  for (size_t i = 0; i < picture.rgb.size(); i += 3) {
    pixels[i] = picture.rgb[i + 2];
    pixels[i + 1] = picture.rgb[i + 1];
    pixels[i + 2] = picture.rgb[i];
  }
  KTestDisplayFormat fmt = {24, 0xFF0000, 0x00FF00, 0x0000FF, nullptr};
  return KTestInstallMemoryDisplay(picture.width, picture.height, &fmt,
                                   pixels.data(), stride) != 0;
}

}  // namespace ktest
