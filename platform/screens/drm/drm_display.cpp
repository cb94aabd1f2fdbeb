#include "drm_display.h"

#include <stdio.h>
#include <string.h>

#include "backends.h"
#include "kernel_calls.h"

namespace kplat {
namespace drm {
namespace {

// Primary nodes take minors 0 to 63; numbers may have gaps.
constexpr int kMaxCards = 64;

}  // namespace

void DrmDisplay::Forget() {
  fd_ = -1;
  memset(&view_, 0, sizeof(view_));
  memset(&buffer_, 0, sizeof(buffer_));
  buffer_.dmabuf = -1;
}

bool DrmDisplay::BeginFrame(Frame *frame) {
  EndFrame();
  for (int n = 0; n < kMaxCards; ++n) {
    char path[32];
    snprintf(path, sizeof(path), "/dev/dri/card%d", n);
    // Read-write, as every KMS client opens the node: the buffer queries
    // and mappings below are the ones display servers make, and the node's
    // permissions grant reading and writing together.
    const int fd = Kernel().open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) continue;
    CrtcView view;
    if (!FindScreenCrtc(fd, &view)) {
      Kernel().close(fd);
      continue;
    }
    // The first card that lights a screen is the screen, readable or not.
    MappedBuffer buffer;
    if (!MapView(fd, view, &buffer)) {
      Kernel().close(fd);
      return false;
    }
    fd_ = fd;
    view_ = view;
    buffer_ = buffer;
    frame->width = int(view.width);
    frame->height = int(view.height);
    frame->format = buffer.format;
    return true;
  }
  return false;
}

void DrmDisplay::EndFrame() {
  if (fd_ < 0) return;
  ReleaseBuffer(fd_, &buffer_);
  Kernel().close(fd_);
  Forget();
}

// The CRTC may have flipped to another framebuffer since the frame began:
// the one it shows now is read, as long as it still matches the frame.
bool DrmDisplay::Follow(const Frame &frame) {
  CrtcView now;
  if (!QueryCrtc(fd_, view_.crtcId, &now) || now.width != view_.width ||
      now.height != view_.height)
    return false;
  if (memcmp(&now, &view_, sizeof(now)) == 0) return true;
  MappedBuffer fresh;
  if (!MapView(fd_, now, &fresh)) return false;
  if (!SameFormat(fresh.format, frame.format)) {
    ReleaseBuffer(fd_, &fresh);
    return false;
  }
  ReleaseBuffer(fd_, &buffer_);
  buffer_ = fresh;
  view_ = now;
  return true;
}

bool DrmDisplay::ReadPixels(const Frame &frame, int x, int y, int w, int h,
                            uint8_t *dst, ptrdiff_t dstStride) {
  if (fd_ < 0 || frame.width != int(view_.width) ||
      frame.height != int(view_.height) || x < 0 || y < 0 || w < 0 || h < 0 ||
      x > frame.width - w || y > frame.height - h || !Follow(frame))
    return false;
  if (!BeginCpuRead(buffer_)) return false;
  const size_t bytes = size_t(buffer_.format.BytesPerPixel());
  const uint8_t *src = buffer_.origin + size_t(y) * buffer_.pitch + x * bytes;
  for (int r = 0; r < h; ++r, src += buffer_.pitch)
    memcpy(dst + r * dstStride, src, size_t(w) * bytes);
  EndCpuRead(buffer_);
  return true;
}

namespace {

DrmDisplay g_display;

// Whether DRM serves depends on the framebuffer itself (handles given
// back, linear, mappable): the screen opens when a frame can begin.
Display *Open() {
  Frame frame;
  const bool readable = g_display.BeginFrame(&frame);
  g_display.EndFrame();
  return readable ? &g_display : nullptr;
}
void Close() { g_display.EndFrame(); }

}  // namespace
}  // namespace drm

const DisplayBackend kDrmBackend = {"drm", drm::Open, drm::Close};

}  // namespace kplat
