// One frame of the framebuffer screen read whole, and its pixels' colours.
#pragma once

#include <stdint.h>

#include <iosfwd>
#include <vector>

#include "display.h"
#include "fbdev_display.h"

namespace ktest {

struct Shot {
  bool ok = false;
  kplat::Frame frame = {};
  int stride = 0;
  std::vector<uint8_t> pixels;  // top-down rows in the frame's format
};

Shot Capture(kplat::fbdev::FbdevDisplay *display);

// The raw channel values of a truecolour pixel (by the format's masks), or
// the palette entry of a palettised one.
struct Rgb {
  uint32_t r, g, b;
  bool operator==(const Rgb &o) const {
    return r == o.r && g == o.g && b == o.b;
  }
};
Rgb ColourAt(const Shot &shot, int x, int y);
void PrintTo(const Rgb &c, std::ostream *os);
uint32_t PixelAt(const Shot &shot, int x, int y);

}  // namespace ktest
