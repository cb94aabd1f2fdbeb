#include "wayland_capture.h"

#include <string.h>

#include <string>
#include <vector>

#include "wayland_backend.h"

namespace ktest {
namespace {

uint8_t Channel8(uint32_t pixel, uint32_t mask) {
  const int shift = __builtin_ctz(mask);
  const uint32_t max = mask >> shift;
  return uint8_t((((pixel & mask) >> shift) * 255 + max / 2) / max);
}

}  // namespace

bool CaptureWayland(Capture *capture) {
  kplat::Display *display = kplat::kWaylandBackend.open();
  if (!display) return false;
  kplat::Frame &frame = capture->frame;
  if (!display->BeginFrame(&frame)) return false;
  const int bytes = frame.format.BytesPerPixel();
  const size_t stride = size_t(frame.width) * size_t(bytes);
  std::vector<uint8_t> raw(stride * size_t(frame.height));
  const bool read = display->ReadPixels(frame, 0, 0, frame.width, frame.height,
                                        raw.data(), ptrdiff_t(stride));
  display->EndFrame();
  if (!read) return false;
  Image &image = capture->image;
  image.width = frame.width;
  image.height = frame.height;
  image.rgb.resize(size_t(frame.width) * size_t(frame.height) * 3);
  for (size_t i = 0; i < size_t(frame.width) * size_t(frame.height); ++i) {
    uint32_t pixel = 0;
    for (int b = bytes - 1; b >= 0; --b)
      pixel = (pixel << 8) | raw[i * bytes + b];
    image.rgb[i * 3] = Channel8(pixel, frame.format.redMask);
    image.rgb[i * 3 + 1] = Channel8(pixel, frame.format.greenMask);
    image.rgb[i * 3 + 2] = Channel8(pixel, frame.format.blueMask);
  }
  return true;
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
