// Row arithmetic and copying for images as the X server lays them out.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kplat {
namespace x11 {

// Bytes in one row of a ZPixmap image: width pixels of bitsPerPixel bits,
// padded to a multiple of scanlinePad bits.
size_t PaddedRowBytes(int width, int bitsPerPixel, int scanlinePad);

// Copies height rows of width pixels from src (srcStride bytes apart) to dst
// (dstStride bytes apart, may be negative). swapBytes reverses the bytes of
// every pixel, turning the server's most-significant-first pixels into the
// little-endian integers the platform works with.
void CopyRows(const uint8_t *src, size_t srcStride, uint8_t *dst,
              ptrdiff_t dstStride, int width, int height, int bytesPerPixel,
              bool swapBytes);

}  // namespace x11
}  // namespace kplat
