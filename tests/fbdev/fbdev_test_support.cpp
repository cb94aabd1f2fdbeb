#include "fbdev_test_support.h"

#include <ostream>

namespace ktest {

Shot Capture(kplat::fbdev::FbdevDisplay *display) {
  Shot shot;
  if (!display->BeginFrame(&shot.frame)) return shot;
  const kplat::Frame &f = shot.frame;
  shot.stride = f.width * f.format.BytesPerPixel();
  shot.pixels.assign(size_t(shot.stride) * f.height, 0);
  shot.ok = display->ReadPixels(f, 0, 0, f.width, f.height, shot.pixels.data(),
                                shot.stride);
  display->EndFrame();
  return shot;
}

uint32_t PixelAt(const Shot &shot, int x, int y) {
  const int bytes = shot.frame.format.BytesPerPixel();
  const uint8_t *p = &shot.pixels[size_t(y) * shot.stride + size_t(x) * bytes];
  uint32_t v = 0;
  for (int b = 0; b < bytes; ++b) v |= uint32_t(p[b]) << (8 * b);
  return v;
}

Rgb ColourAt(const Shot &shot, int x, int y) {
  const kplat::PixelFormat &f = shot.frame.format;
  const uint32_t v = PixelAt(shot, x, y);
  if (f.IsPalettised()) {
    const RGBQUAD &q = f.palette[v];
    return {q.rgbRed, q.rgbGreen, q.rgbBlue};
  }
  auto channel = [v](uint32_t mask) {
    return (v & mask) >> __builtin_ctz(mask);
  };
  return {channel(f.redMask), channel(f.greenMask), channel(f.blueMask)};
}

void PrintTo(const Rgb &c, std::ostream *os) {
  *os << "{" << c.r << ", " << c.g << ", " << c.b << "}";
}

}  // namespace ktest
