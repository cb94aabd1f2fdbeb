// The Linux framebuffer device as the screen: FRAMEBUFFER names it, else
// /dev/fb0. Nothing is kept open between frames: every frame opens the
// device, reads its screen information afresh and maps its memory (or
// reads it with pread where the driver allows no mapping).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "display.h"
#include "fb_layout.h"

namespace kplat {
namespace fbdev {

class FbdevDisplay : public Display {
 public:
  bool BeginFrame(Frame *frame) override;
  bool ReadPixels(const Frame &frame, int x, int y, int w, int h, uint8_t *dst,
                  ptrdiff_t dstStride) override;
  void EndFrame() override;

  // Whether the device opens and shows a layout that can be read; holds
  // nothing afterwards.
  bool Serves();

 private:
  bool Attach();
  bool Query(Layout *layout, unsigned long *memStart) const;
  bool ReadBytes(uint64_t offset, size_t count, uint8_t *out) const;

  int fd_ = -1;
  const uint8_t *map_ = nullptr;
  size_t mapLength_ = 0;
  unsigned long memStart_ = 0;
  Layout layout_;
};

}  // namespace fbdev
}  // namespace kplat
