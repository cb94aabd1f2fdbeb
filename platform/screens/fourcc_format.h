// Pixel layouts named by four-character codes, as the kernel's DRM and
// Wayland's wl_shm name them (both describe little-endian pixels), mapped
// onto screen formats.
#pragma once

#include <stdint.h>

#include "display.h"

namespace kplat {

constexpr uint32_t Fourcc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 |
         uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

// The screen format storing pixels as fourcc does (alpha and padding bits
// ignored): the 8888, 565, 2101010 and 888 RGB layouts. False for others.
bool FormatFromFourcc(uint32_t fourcc, PixelFormat *format);

}  // namespace kplat
