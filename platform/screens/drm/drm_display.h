// The DRM/KMS scanout as the screen: the first card (/dev/dri/card0, card1,
// ...) with a lit CRTC, and on it the lowest-numbered such CRTC. Nothing is
// kept open between frames: an open card node can make this process DRM
// master and lock the display server out.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "display.h"
#include "drm_scanout.h"

namespace kplat {
namespace drm {

class DrmDisplay : public Display {
 public:
  // Closed at shutdown through the backend (drm::Close), like every screen.
  DrmDisplay() { Forget(); }

  bool BeginFrame(Frame *frame) override;
  bool ReadPixels(const Frame &frame, int x, int y, int w, int h, uint8_t *dst,
                  ptrdiff_t dstStride) override;
  void EndFrame() override;

 private:
  bool Follow(const Frame &frame);
  void Forget();

  int fd_;
  CrtcView view_;
  MappedBuffer buffer_;
};

}  // namespace drm
}  // namespace kplat
