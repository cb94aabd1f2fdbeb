// The libdrm queries of the DRM screen, as a table that tests can replace
// to fake cards from memory (the plain kernel calls go through
// kernel/kernel_calls.h).
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

// The test's table when one is set, else libdrm's.
const DrmCalls &Drm();

// Set by test support only; NULL in every shipped program.
extern const DrmCalls *g_drmForTests;

}  // namespace drm
}  // namespace kplat
