#include "drm/drm_format.h"

#include <drm_fourcc.h>
#include <string.h>

namespace kplat {
namespace drm {
namespace {

struct Entry {
  uint32_t fourcc;
  int bitsPerPixel;
  uint32_t red, green, blue;
};

// Alpha, where a format has it, is not part of the picture on the screen.
constexpr Entry kFormats[] = {
    {DRM_FORMAT_XRGB8888, 32, 0xFF0000, 0x00FF00, 0x0000FF},
    {DRM_FORMAT_ARGB8888, 32, 0xFF0000, 0x00FF00, 0x0000FF},
    {DRM_FORMAT_XBGR8888, 32, 0x0000FF, 0x00FF00, 0xFF0000},
    {DRM_FORMAT_ABGR8888, 32, 0x0000FF, 0x00FF00, 0xFF0000},
    {DRM_FORMAT_RGB565, 16, 0xF800, 0x07E0, 0x001F},
    {DRM_FORMAT_XRGB2101010, 32, 0x3FF00000, 0x000FFC00, 0x000003FF},
    {DRM_FORMAT_ARGB2101010, 32, 0x3FF00000, 0x000FFC00, 0x000003FF},
    {DRM_FORMAT_XBGR2101010, 32, 0x000003FF, 0x000FFC00, 0x3FF00000},
    {DRM_FORMAT_ABGR2101010, 32, 0x000003FF, 0x000FFC00, 0x3FF00000},
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

uint32_t FourccFromDepth(uint32_t bitsPerPixel, uint32_t depth) {
  if (bitsPerPixel == 16 && depth == 16) return DRM_FORMAT_RGB565;
  if (bitsPerPixel != 32) return 0;
  switch (depth) {
    case 24:
      return DRM_FORMAT_XRGB8888;
    case 32:
      return DRM_FORMAT_ARGB8888;
    case 30:
      return DRM_FORMAT_XRGB2101010;
    default:
      return 0;
  }
}

}  // namespace drm
}  // namespace kplat
