// A display held in process memory, for tests: a copy of the pixels a test
// hands over, read back through the same interface as the X server's.
#include <stdlib.h>
#include <string.h>

#include <new>

#include "testing_seam.h"

namespace kplat {
namespace {

class MemoryDisplay final : public Display {
 public:
  bool BeginFrame(Frame *frame) override {
    frame->width = width_;
    frame->height = height_;
    frame->format = format_;
    return true;
  }

  // A test may replace the pixels between frames, never within one.
  bool ReadPixels(const Frame &frame, int x, int y, int w, int h, uint8_t *dst,
                  ptrdiff_t dstStride) override {
    if (frame.width != width_ || frame.height != height_ ||
        !SameFormat(frame.format, format_))
      return false;
    if (x < 0 || y < 0 || w < 0 || h < 0 || int64_t(x) + w > width_ ||
        int64_t(y) + h > height_)
      return false;
    if (w == 0 || h == 0) return true;
    if (dst == nullptr) return false;
    const size_t bpp = size_t(format_.BytesPerPixel());
    for (int r = 0; r < h; ++r)
      memcpy(dst + r * dstStride, pixels_ + (y + r) * stride_ + x * bpp,
             w * bpp);
    return true;
  }

  // Takes over pixels (malloc'ed, rows stride bytes apart) and frees the
  // ones held before.
  void Replace(int width, int height, const PixelFormat &format,
               uint8_t *pixels, size_t stride) {
    free(pixels_);
    pixels_ = pixels;
    width_ = width;
    height_ = height;
    stride_ = stride;
    format_ = format;
  }

 private:
  uint8_t *pixels_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  size_t stride_ = 0;
  PixelFormat format_ = {};
};

// Built in static storage on first install and never destroyed, so that
// nothing running late at unload meets a dead object.
alignas(MemoryDisplay) unsigned char g_storage[sizeof(MemoryDisplay)];
MemoryDisplay *g_display = nullptr;
bool g_installed = false;

}  // namespace

namespace testing {

Display *MemoryDisplayIfInstalled() {
  return g_installed ? g_display : nullptr;
}

}  // namespace testing
}  // namespace kplat

extern "C" int KTestInstallMemoryDisplay(int width, int height,
                                         const KTestDisplayFormat *format,
                                         const void *pixels, size_t stride) {
  if (format == nullptr || pixels == nullptr || width <= 0 || height <= 0)
    return 0;
  kplat::PixelFormat pf;
  memset(&pf, 0, sizeof(pf));
  pf.bitsPerPixel = format->bitsPerPixel;
  pf.redMask = format->redMask;
  pf.greenMask = format->greenMask;
  pf.blueMask = format->blueMask;
  if (pf.IsPalettised()) {
    if (format->palette == nullptr) return 0;
    memcpy(pf.palette, format->palette, sizeof(pf.palette));
  }
  if (!kplat::IsSupportedFormat(pf)) return 0;
  const uint64_t rowBytes = uint64_t(width) * pf.BytesPerPixel();
  uint64_t span;  // bytes of the caller's buffer the copy reads
  if (stride < rowBytes ||
      __builtin_mul_overflow(uint64_t(stride), uint64_t(height - 1), &span) ||
      __builtin_add_overflow(span, rowBytes, &span) || span > SIZE_MAX ||
      rowBytes * height > INT32_MAX)
    return 0;
  uint8_t *copy = static_cast<uint8_t *>(malloc(size_t(rowBytes * height)));
  if (copy == nullptr) return 0;
  const uint8_t *src = static_cast<const uint8_t *>(pixels);
  for (int r = 0; r < height; ++r)
    memcpy(copy + r * rowBytes, src + r * stride, size_t(rowBytes));
  if (kplat::g_display == nullptr)
    kplat::g_display = new (kplat::g_storage) kplat::MemoryDisplay();
  kplat::g_display->Replace(width, height, pf, copy, size_t(rowBytes));
  kplat::g_installed = true;
  return 1;
}

extern "C" void KTestRemoveMemoryDisplay(void) {
  if (kplat::g_display != nullptr)
    kplat::g_display->Replace(0, 0, kplat::PixelFormat(), nullptr, 0);
  kplat::g_installed = false;
}
