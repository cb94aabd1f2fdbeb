#include "picture.h"

#include <stdlib.h>
#include <string.h>

#include "wincrt.h"

namespace kplat {

bool PictureBytes(int width, int height, const PixelFormat &format,
                  size_t stride, size_t *size) {
  size_t rowBytes = 0;
  if (width <= 0 || height <= 0 || width > kMaxPictureSide ||
      height > kMaxPictureSide ||
      __builtin_mul_overflow(size_t(width), size_t(format.BytesPerPixel()),
                             &rowBytes))
    return false;
  if (stride == 0) stride = rowBytes;
  // Rows may be padded (a bitmap's rows are), but not to any length.
  return stride >= rowBytes && stride - rowBytes <= 64 &&
         !__builtin_mul_overflow(stride, size_t(height), size);
}

bool AllocatePicture(int width, int height, const PixelFormat &format,
                     Picture *picture, size_t stride) {
  memset(picture, 0, sizeof *picture);
  size_t size = 0;
  if (!PictureBytes(width, height, format, stride, &size)) return false;
  if (stride == 0) stride = size / size_t(height);
  picture->pixels = static_cast<uint8_t *>(malloc(size));
  if (!picture->pixels) return false;
  memset(picture->pixels, 0, size);
  picture->width = width;
  picture->height = height;
  picture->stride = stride;
  picture->format = format;
  return true;
}

void FreePicture(Picture *picture) {
  free(picture->pixels);
  memset(picture, 0, sizeof *picture);
}

void CopyRect(const Picture &picture, int x, int y, int w, int h, uint8_t *dst,
              ptrdiff_t dstStride) {
  const size_t bytes = size_t(picture.format.BytesPerPixel());
  const uint8_t *src =
      picture.pixels + size_t(y) * picture.stride + size_t(x) * bytes;
  for (int row = 0; row < h; ++row) {
    memcpy(dst, src, size_t(w) * bytes);
    src += picture.stride;
    dst += dstStride;
  }
}

}  // namespace kplat
