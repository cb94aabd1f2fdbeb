// What a DRM card shows: the CRTC taken as the screen and the framebuffer
// its primary plane scans out, mapped for reading.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "display.h"

namespace kplat {
namespace drm {

// The part of a framebuffer a CRTC shows.
struct CrtcView {
  uint32_t crtcId;
  uint32_t fbId;
  uint32_t x, y;  // on the framebuffer
  uint32_t width, height;
};

// The lowest-numbered CRTC that is active and shows a framebuffer: with
// several heads lit, that one is the screen. False when none does.
bool FindScreenCrtc(int fd, CrtcView *view);

// The CRTC's view now; false when it is off or shows nothing.
bool QueryCrtc(int fd, uint32_t crtcId, CrtcView *view);

// A framebuffer mapped for reading, and the GEM handles and descriptor
// that hold it.
struct MappedBuffer {
  PixelFormat format;
  uint32_t pitch;
  const uint8_t *origin;  // the first pixel of the view
  uint8_t *map;
  size_t mapLength;
  int dmabuf;  // the PRIME export when mapped through one, else -1
  uint32_t handles[4];
  int handleCount;
};

// Maps the framebuffer of a view; false, holding nothing, when it cannot be
// read: no handle given back (neither DRM master nor CAP_SYS_ADMIN), a
// tiled or compressed layout, a format outside the screen formats, or no
// way to map it.
bool MapView(int fd, const CrtcView &view, MappedBuffer *buffer);

// Unmaps, closes the export and gives the GEM handles back.
void ReleaseBuffer(int fd, MappedBuffer *buffer);

// Brackets CPU reads of a PRIME-mapped buffer (nothing for a dumb map).
bool BeginCpuRead(const MappedBuffer &buffer);
void EndCpuRead(const MappedBuffer &buffer);

}  // namespace drm
}  // namespace kplat
