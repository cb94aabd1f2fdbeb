// The whole screen as one picture in memory: what a frame of the Wayland
// screen or the desktop portal reads from.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "display.h"

namespace kplat {

// Larger than any screen, small enough that sizes stay far from overflow.
const int kMaxPictureSide = 1 << 15;

struct Picture {
  int width;
  int height;
  size_t stride;  // bytes from one row to the next
  PixelFormat format;
  uint8_t *pixels;  // top-down rows
};

// The bytes of a picture of that size and format with rows stride bytes
// apart (0: no padding); false when the size or stride is out of range.
bool PictureBytes(int width, int height, const PixelFormat &format,
                  size_t stride, size_t *size);

// A black picture of the given size and format, with rows stride bytes
// apart (0: no padding). False (pixels NULL) when the size or stride is out
// of range or memory runs out.
bool AllocatePicture(int width, int height, const PixelFormat &format,
                     Picture *picture, size_t stride = 0);

void FreePicture(Picture *picture);

// Copies the w x h rectangle at (x, y), which lies inside the picture, into
// dst rows dstStride bytes apart.
void CopyRect(const Picture &picture, int x, int y, int w, int h, uint8_t *dst,
              ptrdiff_t dstStride);

}  // namespace kplat
