// The test's own view of an X server's root window: drawing known pixels on
// it and reading them back over the socket, with none of the library's code.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <string>
#include <vector>

namespace ktest {

struct ServerImage {
  int width = 0, height = 0, depth = 0, bitsPerPixel = 0;
  uint8_t visualClass = 0;
  uint32_t redMask = 0, greenMask = 0, blueMask = 0;
  std::vector<uint32_t> pixels;  // top-down pixel values
};

// Covers the whole root window of `display` with a pattern made from seed
// (noise, gradients, flat blocks); *drawn gets the values put there. On
// 8-bit colormapped screens some colours are allocated first.
bool DrawScene(const std::string &display, uint32_t seed, ServerImage *drawn);

// The root window as the server sends it for GetImage, decoded in the
// server's byte order.
bool ReadBack(const std::string &display, ServerImage *image);

// The default colormap's 256 entries, each channel rounded to 8 bits.
bool ReadPalette(const std::string &display,
                 std::vector<std::array<uint8_t, 3>> *palette);

// Pixel values of w x h little-endian pixels, rows stride bytes apart.
std::vector<uint32_t> DecodeLittleEndian(const uint8_t *data, int w, int h,
                                         ptrdiff_t stride, int bytesPerPixel);

}  // namespace ktest
