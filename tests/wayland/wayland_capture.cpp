#include "wayland_capture.h"

#include <string.h>

#include <string>
#include <vector>

#include "backends.h"

namespace ktest {
namespace {

uint8_t Channel8(uint32_t pixel, uint32_t mask) {
  const int shift = __builtin_ctz(mask);
  const uint32_t max = mask >> shift;
  return uint8_t((((pixel & mask) >> shift) * 255 + max / 2) / max);
}

}  // namespace

Image RgbImage(int w, int h, const kplat::PixelFormat &format,
               const uint8_t *pixels, size_t stride) {
  Image image;
  image.width = w;
  image.height = h;
  image.rgb.resize(size_t(w) * size_t(h) * 3);
  const int bytes = format.BytesPerPixel();
  uint8_t *out = image.rgb.data();
  for (int y = 0; y < h; ++y) {
    const uint8_t *row = pixels + size_t(y) * stride;
    for (int x = 0; x < w; ++x, out += 3) {
      uint32_t pixel = 0;
      for (int b = bytes - 1; b >= 0; --b)
        pixel = (pixel << 8) | row[size_t(x) * size_t(bytes) + size_t(b)];
      out[0] = Channel8(pixel, format.redMask);
      out[1] = Channel8(pixel, format.greenMask);
      out[2] = Channel8(pixel, format.blueMask);
    }
  }
  return image;
}

bool CaptureWayland(Capture *capture, bool lent) {
  kplat::Display *display = kplat::kWaylandBackend.open();
  if (!display) return false;
  kplat::Frame &frame = capture->frame;
  if (!display->BeginFrame(&frame)) return false;
  const int bytes = frame.format.BytesPerPixel();
  const size_t stride = size_t(frame.width) * size_t(bytes);
  std::vector<uint8_t> raw;
  uint8_t *pixels = nullptr;
  if (lent) {
    pixels = display->LendPixels(frame, frame.width, frame.height,
                                 ptrdiff_t(stride));
  } else {
    raw.resize(stride * size_t(frame.height));
    pixels = raw.data();
  }
  const bool read =
      pixels && display->ReadPixels(frame, 0, 0, frame.width, frame.height,
                                    pixels, ptrdiff_t(stride));
  display->EndFrame();
  if (read)
    capture->image =
        RgbImage(frame.width, frame.height, frame.format, pixels, stride);
  if (lent && pixels) display->ReturnPixels(pixels);
  return read;
}

std::string FirstDifference(const Image &a, const Image &b) {
  if (a.width != b.width || a.height != b.height)
    return "size " + std::to_string(a.width) + "x" + std::to_string(a.height) +
           " vs " + std::to_string(b.width) + "x" + std::to_string(b.height);
  for (size_t i = 0; i < a.rgb.size(); ++i) {
    if (a.rgb[i] != b.rgb[i]) {
      const size_t pixel = i / 3;
      char text[160];
      const uint8_t *p = &a.rgb[pixel * 3], *q = &b.rgb[pixel * 3];
      snprintf(text, sizeof text, "pixel (%zu, %zu): %u,%u,%u vs %u,%u,%u",
               pixel % size_t(a.width), pixel / size_t(a.width), p[0], p[1],
               p[2], q[0], q[1], q[2]);
      return text;
    }
  }
  return "";
}

Image Crop(const Image &image, int x, int y, int w, int h) {
  Image part;
  part.width = w;
  part.height = h;
  part.rgb.resize(size_t(w) * size_t(h) * 3);
  for (int r = 0; r < h; ++r)
    memcpy(&part.rgb[size_t(r) * size_t(w) * 3],
           &image.rgb[(size_t(y + r) * size_t(image.width) + size_t(x)) * 3],
           size_t(w) * 3);
  return part;
}

}  // namespace ktest
