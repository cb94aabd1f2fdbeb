#include "drm/drm_calls.h"

namespace kplat {
namespace drm {
namespace {

const DrmCalls kLibdrm = {
    drmModeGetResources, drmModeFreeResources, drmModeGetCrtc,
    drmModeFreeCrtc,     drmModeGetFB2,        drmModeFreeFB2,
    drmModeGetFB,        drmModeFreeFB,        drmPrimeHandleToFD};

}  // namespace

const DrmCalls *g_drmForTests = nullptr;

const DrmCalls &Drm() {
  return g_drmForTests != nullptr ? *g_drmForTests : kLibdrm;
}

}  // namespace drm
}  // namespace kplat
