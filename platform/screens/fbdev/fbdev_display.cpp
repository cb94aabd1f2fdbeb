#include "fbdev_display.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include "backends.h"
#include "kernel_calls.h"
#include "wincrt.h"

namespace kplat {
namespace fbdev {
namespace {

const char *DevicePath() {
  const char *path = getenv("FRAMEBUFFER");
  return path != nullptr && path[0] != '\0' ? path : "/dev/fb0";
}

}  // namespace

bool FbdevDisplay::Query(Layout *layout, unsigned long *memStart) const {
  fb_var_screeninfo var;
  fb_fix_screeninfo fix;
  memset(&var, 0, sizeof(var));
  memset(&fix, 0, sizeof(fix));
  if (RetryIoctl(fd_, FBIOGET_VSCREENINFO, &var) != 0 ||
      RetryIoctl(fd_, FBIOGET_FSCREENINFO, &fix) != 0)
    return false;
  const uint32_t entries = ColourMapLength(var, fix);
  ColourMap colours;
  memset(&colours, 0, sizeof(colours));
  if (entries != 0) {
    fb_cmap cmap = {0,      entries, colours.red, colours.green, colours.blue,
                    nullptr};
    if (RetryIoctl(fd_, FBIOGETCMAP, &cmap) != 0) return false;
  }
  *memStart = fix.smem_start;
  return Describe(var, fix, entries != 0 ? &colours : nullptr, layout);
}

bool FbdevDisplay::Attach() {
  EndFrame();
  fd_ = Kernel().open(DevicePath(), O_RDONLY | O_CLOEXEC);
  if (fd_ >= 0 && Query(&layout_, &memStart_)) return true;
  EndFrame();
  return false;
}

bool FbdevDisplay::Serves() {
  const bool readable = Attach();
  EndFrame();
  return readable;
}

bool FbdevDisplay::BeginFrame(Frame *frame) {
  if (!Attach()) return false;
  // Mapped where the driver allows it; otherwise every row is read with
  // pread. The visible area ends inside the device's 32-bit memory length,
  // so its size fits a size_t on every target.
  const size_t length = size_t(layout_.geometry.end);
  void *map = Kernel().mmap(length, PROT_READ, MAP_SHARED, fd_, 0);
  if (map != MAP_FAILED) {
    map_ = static_cast<const uint8_t *>(map);
    mapLength_ = length;
  }
  frame->width = int(layout_.geometry.width);
  frame->height = int(layout_.geometry.height);
  frame->format = layout_.format;
  return true;
}

void FbdevDisplay::EndFrame() {
  if (map_ != nullptr) Kernel().munmap(const_cast<uint8_t *>(map_), mapLength_);
  map_ = nullptr;
  mapLength_ = 0;
  if (fd_ >= 0) Kernel().close(fd_);
  fd_ = -1;
}

bool FbdevDisplay::ReadBytes(uint64_t offset, size_t count,
                             uint8_t *out) const {
  // Whole rows in one copy: framebuffer memory may be uncached, so the
  // converters never read it a byte at a time.
  if (map_ == nullptr) return ReadFully(fd_, out, count, int64_t(offset));
  memcpy(out, map_ + size_t(offset), count);  // offset < mapLength_
  return true;
}

bool FbdevDisplay::ReadPixels(const Frame &frame, int x, int y, int w, int h,
                              uint8_t *dst, ptrdiff_t dstStride) {
  if (fd_ < 0) return false;
  const Geometry &g = layout_.geometry;
  if (frame.width != int(g.width) || frame.height != int(g.height) ||
      !SameFormat(frame.format, layout_.format) || x < 0 || y < 0 || w < 0 ||
      h < 0 || x > frame.width - w || y > frame.height - h)
    return false;
  // The screen is asked again before its memory is touched: a device that
  // went away fails here, and a mode change (new size, format, panning or
  // memory) makes the frame stale.
  Layout now;
  unsigned long memStart = 0;
  if (!Query(&now, &memStart) || memStart != memStart_ ||
      !SameLayout(now, layout_))
    return false;
  if (w == 0 || h == 0) return true;
  const uint64_t firstBit =
      uint64_t(g.firstPixel + uint32_t(x)) * g.bitsPerPixel;
  const uint64_t endBit =
      uint64_t(g.firstPixel + uint32_t(x + w)) * g.bitsPerPixel;
  const uint64_t start = firstBit / 8;
  const size_t span = size_t((endBit + 7) / 8 - start);
  uint8_t *row = nullptr;
  if (layout_.conversion != Conversion::kCopy) {
    row = static_cast<uint8_t *>(malloc(span));
    if (row == nullptr) return false;
  }
  bool ok = true;
  for (int r = 0; r < h && ok; ++r) {
    const uint64_t offset = g.firstRow + uint64_t(y + r) * g.lineLength + start;
    uint8_t *out = dst + r * dstStride;
    ok = ReadBytes(offset, span, row != nullptr ? row : out);
    if (!ok) break;
    if (layout_.conversion == Conversion::kUnpack)
      UnpackIndexRow(row, uint32_t(firstBit % 8) / g.bitsPerPixel, w,
                     int(g.bitsPerPixel), out);
    else if (layout_.conversion == Conversion::kChannels)
      MapChannelRow(row, w, layout_.channels, out);
  }
  free(row);
  return ok;
}

namespace {

FbdevDisplay g_display;

// A device whose memory cannot be mapped is still read (with pread), so
// opening and describing it tells whether it serves.
Display *Open() { return g_display.Serves() ? &g_display : nullptr; }
void Close() { g_display.EndFrame(); }

}  // namespace
}  // namespace fbdev

const DisplayBackend kFbdevBackend = {"fbdev", fbdev::Open, fbdev::Close};

}  // namespace kplat
