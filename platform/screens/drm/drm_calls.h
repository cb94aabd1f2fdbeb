// The libdrm queries of the DRM screen, as a table that tests can replace
// to fake cards from memory (the plain kernel calls go through
// kernel_calls.h).
#pragma once

#include <stdint.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

namespace kplat {
namespace drm {

struct DrmCalls {
  drmModeResPtr (*getResources)(int fd);
  void (*freeResources)(drmModeResPtr resources);
  drmModeCrtcPtr (*getCrtc)(int fd, uint32_t crtcId);
  void (*freeCrtc)(drmModeCrtcPtr crtc);
  drmModeFB2Ptr (*getFB2)(int fd, uint32_t fbId);
  void (*freeFB2)(drmModeFB2Ptr fb);
  drmModeFBPtr (*getFB)(int fd, uint32_t fbId);
  void (*freeFB)(drmModeFBPtr fb);
  int (*primeHandleToFD)(int fd, uint32_t handle, uint32_t flags, int *out);
};

// A test's fake cards when the hook has them, else libdrm's.
const DrmCalls &Drm();

}  // namespace drm
}  // namespace kplat
