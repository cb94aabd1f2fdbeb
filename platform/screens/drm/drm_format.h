// DRM framebuffer formats the screen formats cover without conversion.
#pragma once

#include <stdint.h>

#include "display.h"

namespace kplat {
namespace drm {

// The screen format of a linear DRM format; false for any other.
bool FormatFromFourcc(uint32_t fourcc, PixelFormat *format);

// The DRM format a framebuffer described only by depth and bits per pixel
// (the older query) has; 0 for combinations with no single answer.
uint32_t FourccFromDepth(uint32_t bitsPerPixel, uint32_t depth);

}  // namespace drm
}  // namespace kplat
