// A display's calls one at a time, each in a frame of its own: how the tests
// of a backend ask for its size, format and pixels.
#pragma once

#include "backends.h"
#include "display.h"

namespace ktest {

class DisplayProbe {
 public:
  explicit DisplayProbe(kplat::Display *display) : display_(display) {}

  bool GetSize(int *width, int *height) {
    kplat::Frame frame;
    if (width == nullptr || height == nullptr || !Look(&frame)) return false;
    *width = frame.width;
    *height = frame.height;
    return true;
  }

  bool GetFormat(kplat::PixelFormat *format) {
    kplat::Frame frame;
    if (format == nullptr || !Look(&frame)) return false;
    *format = frame.format;
    return true;
  }

  bool ReadPixels(int x, int y, int w, int h, uint8_t *dst, ptrdiff_t stride) {
    kplat::Frame frame;
    if (!display_->BeginFrame(&frame)) return false;
    const bool ok = display_->ReadPixels(frame, x, y, w, h, dst, stride);
    display_->EndFrame();
    return ok;
  }

  kplat::Display *display() const { return display_; }

 private:
  bool Look(kplat::Frame *frame) {
    if (!display_->BeginFrame(frame)) return false;
    display_->EndFrame();
    return true;
  }

  kplat::Display *display_;
};

// The X server's screen as the registry would open it now, else NULL.
inline DisplayProbe *SystemDisplay() {
  static DisplayProbe probe(nullptr);
  kplat::Display *display = kplat::kX11Backend.open();
  if (display == nullptr) return nullptr;
  probe = DisplayProbe(display);
  return &probe;
}

}  // namespace ktest
