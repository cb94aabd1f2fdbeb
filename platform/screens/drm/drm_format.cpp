#include "drm_format.h"

#include <drm_fourcc.h>

#include "fourcc_format.h"

namespace kplat {
namespace drm {

// Scanout buffers of packed 24-bit pixels are not among the formats this
// screen reads.
bool FormatFromFourcc(uint32_t fourcc, PixelFormat *format) {
  PixelFormat found;
  if (!kplat::FormatFromFourcc(fourcc, &found) || found.bitsPerPixel == 24)
    return false;
  *format = found;
  return true;
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
