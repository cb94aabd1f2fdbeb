#include "x11_rows.h"

#include <string.h>

namespace kplat {
namespace x11 {
namespace {

void SwapRow(const uint8_t *src, uint8_t *dst, int width, int bytesPerPixel) {
  for (int i = 0; i < width; ++i) {
    for (int b = 0; b < bytesPerPixel; ++b) dst[b] = src[bytesPerPixel - 1 - b];
    src += bytesPerPixel;
    dst += bytesPerPixel;
  }
}

}  // namespace

size_t PaddedRowBytes(int width, int bitsPerPixel, int scanlinePad) {
  if (width <= 0 || bitsPerPixel <= 0 || scanlinePad <= 0) return 0;
  const size_t bits = size_t(width) * size_t(bitsPerPixel);
  const size_t pad = size_t(scanlinePad);
  return (bits + pad - 1) / pad * pad / 8;
}

void CopyRows(const uint8_t *src, size_t srcStride, uint8_t *dst,
              ptrdiff_t dstStride, int width, int height, int bytesPerPixel,
              bool swapBytes) {
  const size_t rowBytes = size_t(width) * size_t(bytesPerPixel);
  const bool swap = swapBytes && bytesPerPixel > 1;
  for (int r = 0; r < height; ++r) {
    const uint8_t *s = src + size_t(r) * srcStride;
    uint8_t *d = dst + ptrdiff_t(r) * dstStride;
    if (swap)
      SwapRow(s, d, width, bytesPerPixel);
    else
      memcpy(d, s, rowBytes);
  }
}

}  // namespace x11
}  // namespace kplat
