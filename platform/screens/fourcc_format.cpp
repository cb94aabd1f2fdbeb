#include "fourcc_format.h"

#include <string.h>

namespace kplat {
namespace {

struct Entry {
  uint32_t fourcc;
  int bitsPerPixel;
  uint32_t red, green, blue;
};

constexpr Entry kFormats[] = {
    {Fourcc('X', 'R', '2', '4'), 32, 0xFF0000, 0x00FF00, 0x0000FF},
    {Fourcc('A', 'R', '2', '4'), 32, 0xFF0000, 0x00FF00, 0x0000FF},
    {Fourcc('X', 'B', '2', '4'), 32, 0x0000FF, 0x00FF00, 0xFF0000},
    {Fourcc('A', 'B', '2', '4'), 32, 0x0000FF, 0x00FF00, 0xFF0000},
    {Fourcc('R', 'G', '1', '6'), 16, 0xF800, 0x07E0, 0x001F},
    {Fourcc('X', 'R', '3', '0'), 32, 0x3FF00000, 0x000FFC00, 0x000003FF},
    {Fourcc('A', 'R', '3', '0'), 32, 0x3FF00000, 0x000FFC00, 0x000003FF},
    {Fourcc('X', 'B', '3', '0'), 32, 0x000003FF, 0x000FFC00, 0x3FF00000},
    {Fourcc('A', 'B', '3', '0'), 32, 0x000003FF, 0x000FFC00, 0x3FF00000},
    {Fourcc('R', 'G', '2', '4'), 24, 0xFF0000, 0x00FF00, 0x0000FF},
    {Fourcc('B', 'G', '2', '4'), 24, 0x0000FF, 0x00FF00, 0xFF0000},
};

}  // namespace

bool FormatFromFourcc(uint32_t fourcc, PixelFormat *format) {
  for (const Entry &e : kFormats) {
    if (e.fourcc != fourcc) continue;
    memset(format, 0, sizeof(*format));
    format->bitsPerPixel = e.bitsPerPixel;
    format->redMask = e.red;
    format->greenMask = e.green;
    format->blueMask = e.blue;
    return true;
  }
  return false;
}

}  // namespace kplat
