#include "drm_calls.h"

#include "hook.h"

namespace kplat {
namespace drm {
namespace {

const DrmCalls kLibdrm = {
    drmModeGetResources, drmModeFreeResources, drmModeGetCrtc,
    drmModeFreeCrtc,     drmModeGetFB2,        drmModeFreeFB2,
    drmModeGetFB,        drmModeFreeFB,        drmPrimeHandleToFD};

}  // namespace

const DrmCalls &Drm() {
  const DrmCalls *fake = g_hook != nullptr ? g_hook->drmCalls() : nullptr;
  return fake != nullptr ? *fake : kLibdrm;
}

}  // namespace drm
}  // namespace kplat
