// Memory displays for tests: every supported screen format, filled with a
// deterministic pattern, with the picture the library should make of it.
#pragma once

#include <stdint.h>

#include <ostream>
#include <string>
#include <vector>

#include "images.h"

namespace ktest {

struct ScreenFormat {
  std::string name;
  int bitsPerPixel;
  uint32_t redMask, greenMask, blueMask;  // all 0: 8-bit palettised
};

// 8-bit palette, 5-5-5, 5-6-5, 24-bit, 32-bit XRGB and XBGR, 32-bit 10-10-10.
const std::vector<ScreenFormat> &AllScreenFormats();

// Test names print the format's name, not its bytes (padding included).
inline void PrintTo(const ScreenFormat &format, std::ostream *os) {
  *os << format.name;
}

// Installs a w x h memory display of the format holding a pattern that
// varies with seed (every channel value of the format occurs somewhere on a
// large enough screen), and returns the top-down RGB picture of it, worked
// out here independently of the library. Returns false if the platform
// refused the display.
bool InstallPatternScreen(const ScreenFormat &format, int w, int h,
                          uint32_t seed, Image *expected);

// Installs a 24-bit display whose pixels are given top-down as RGB.
bool InstallRgbScreen(const Image &picture);

}  // namespace ktest
