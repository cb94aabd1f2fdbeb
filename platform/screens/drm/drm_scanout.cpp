#include "drm_scanout.h"

#include <drm.h>
#include <drm_fourcc.h>
#include <drm_mode.h>
#include <linux/dma-buf.h>
#include <string.h>

#include "drm_calls.h"
#include "drm_format.h"
#include "kernel_calls.h"

namespace kplat {
namespace drm {
namespace {

// What the framebuffer queries tell of the first plane.
struct FbInfo {
  uint32_t width, height;
  uint32_t fourcc;
  uint64_t modifier;
  uint32_t pitch, offset;
};

void KeepHandle(MappedBuffer *buffer, uint32_t handle) {
  if (handle == 0) return;
  for (int i = 0; i < buffer->handleCount; ++i)
    if (buffer->handles[i] == handle) return;
  buffer->handles[buffer->handleCount++] = handle;
}

// Every handle the query gives back is kept in buffer, to be closed on
// every path. The newer query first; kernels without it answer the older.
bool QueryFb(int fd, uint32_t fbId, FbInfo *info, MappedBuffer *buffer) {
  if (drmModeFB2Ptr fb = Drm().getFB2(fd, fbId)) {
    for (uint32_t handle : fb->handles) KeepHandle(buffer, handle);
    *info = {fb->width,
             fb->height,
             fb->pixel_format,
             (fb->flags & DRM_MODE_FB_MODIFIERS) ? fb->modifier
                                                 : DRM_FORMAT_MOD_LINEAR,
             fb->pitches[0],
             fb->offsets[0]};
    const bool given = fb->handles[0] != 0;
    Drm().freeFB2(fb);
    return given;
  }
  drmModeFBPtr fb = Drm().getFB(fd, fbId);
  if (fb == nullptr) return false;
  KeepHandle(buffer, fb->handle);
  *info = {fb->width,
           fb->height,
           FourccFromDepth(fb->bpp, fb->depth),
           DRM_FORMAT_MOD_LINEAR,
           fb->pitch,
           0};
  const bool given = fb->handle != 0;
  Drm().freeFB(fb);
  return given;
}

// Through the card's own offset space when the driver maps the object like
// a dumb buffer, else through a PRIME export.
bool MapObject(int fd, uint32_t handle, size_t length, MappedBuffer *buffer) {
  drm_mode_map_dumb dumb;
  memset(&dumb, 0, sizeof(dumb));
  dumb.handle = handle;
  if (RetryIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &dumb) == 0 &&
      dumb.offset <= uint64_t(INT64_MAX)) {
    void *map =
        Kernel().mmap(length, PROT_READ, MAP_SHARED, fd, int64_t(dumb.offset));
    if (map != MAP_FAILED) {
      buffer->map = static_cast<uint8_t *>(map);
      return true;
    }
  }
  int dmabuf = -1;
  if (Drm().primeHandleToFD(fd, handle, DRM_CLOEXEC, &dmabuf) != 0 ||
      dmabuf < 0)
    return false;
  buffer->dmabuf = dmabuf;
  void *map = Kernel().mmap(length, PROT_READ, MAP_SHARED, dmabuf, 0);
  if (map == MAP_FAILED) return false;
  buffer->map = static_cast<uint8_t *>(map);
  return true;
}

bool SyncCpuRead(const MappedBuffer &buffer, uint64_t when) {
  if (buffer.dmabuf < 0) return true;
  dma_buf_sync sync = {when | DMA_BUF_SYNC_READ};
  return RetryIoctl(buffer.dmabuf, DMA_BUF_IOCTL_SYNC, &sync) == 0;
}

}  // namespace

bool QueryCrtc(int fd, uint32_t crtcId, CrtcView *view) {
  drmModeCrtcPtr crtc = Drm().getCrtc(fd, crtcId);
  if (crtc == nullptr) return false;
  const bool shows = crtc->mode_valid && crtc->buffer_id != 0 &&
                     crtc->width != 0 && crtc->height != 0;
  *view = {crtc->crtc_id, crtc->buffer_id, crtc->x,
           crtc->y,       crtc->width,     crtc->height};
  Drm().freeCrtc(crtc);
  return shows;
}

bool FindScreenCrtc(int fd, CrtcView *view) {
  drmModeResPtr resources = Drm().getResources(fd);
  if (resources == nullptr) return false;
  bool found = false;
  for (int i = 0; i < resources->count_crtcs; ++i) {
    CrtcView candidate;
    if ((!found || resources->crtcs[i] < view->crtcId) &&
        QueryCrtc(fd, resources->crtcs[i], &candidate)) {
      *view = candidate;
      found = true;
    }
  }
  Drm().freeResources(resources);
  return found;
}

bool MapView(int fd, const CrtcView &view, MappedBuffer *buffer) {
  memset(buffer, 0, sizeof(*buffer));
  buffer->dmabuf = -1;
  FbInfo fb;
  const bool ok = QueryFb(fd, view.fbId, &fb, buffer) &&
                  fb.modifier == DRM_FORMAT_MOD_LINEAR &&
                  FormatFromFourcc(fb.fourcc, &buffer->format);
  // The view must lie inside the framebuffer and its rows inside the pitch;
  // the kernel checked that the object holds the whole framebuffer.
  const uint64_t bytes = uint64_t(buffer->format.BytesPerPixel());
  const uint64_t right = uint64_t(view.x) + view.width;
  const uint64_t bottom = uint64_t(view.y) + view.height;
  uint64_t length = 0;
  if (!ok || right > fb.width || bottom > fb.height ||
      right * bytes > fb.pitch ||
      __builtin_mul_overflow(uint64_t(fb.pitch), bottom - 1, &length) ||
      __builtin_add_overflow(length, fb.offset + right * bytes, &length) ||
      length > SIZE_MAX ||
      !MapObject(fd, buffer->handles[0], size_t(length), buffer)) {
    ReleaseBuffer(fd, buffer);
    return false;
  }
  buffer->mapLength = size_t(length);
  buffer->pitch = fb.pitch;
  // Inside the mapping, whose length fits a size_t.
  buffer->origin =
      buffer->map +
      size_t(fb.offset + uint64_t(view.y) * fb.pitch + view.x * bytes);
  return true;
}

void ReleaseBuffer(int fd, MappedBuffer *buffer) {
  if (buffer->map != nullptr) Kernel().munmap(buffer->map, buffer->mapLength);
  if (buffer->dmabuf >= 0) Kernel().close(buffer->dmabuf);
  for (int i = 0; i < buffer->handleCount; ++i) {
    drm_gem_close close;
    memset(&close, 0, sizeof(close));
    close.handle = buffer->handles[i];
    RetryIoctl(fd, DRM_IOCTL_GEM_CLOSE, &close);
  }
  memset(buffer, 0, sizeof(*buffer));
  buffer->dmabuf = -1;
}

bool BeginCpuRead(const MappedBuffer &buffer) {
  return SyncCpuRead(buffer, DMA_BUF_SYNC_START);
}

void EndCpuRead(const MappedBuffer &buffer) {
  SyncCpuRead(buffer, DMA_BUF_SYNC_END);
}

}  // namespace drm
}  // namespace kplat
