#include "fake_drm.h"

#include <drm.h>
#include <drm_mode.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/dma-buf.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "drm_calls.h"
#include "fakes.h"
#include "kernel_calls.h"

namespace ktest {
namespace {

FakeDrm *g_fake = nullptr;
std::map<int, int> g_cardFds;    // descriptor -> card
std::map<int, int> g_dmabufFds;  // descriptor -> object
// One memfd per framebuffer object, indexed by a global object number.
struct Object {
  int card;
  size_t fb;
  int memfd;
};
std::vector<Object> g_objects;
std::map<uint32_t, size_t> g_handleObjects;  // handle -> object
uint32_t g_nextHandle = 1;

constexpr int64_t kTokenStep = 1 << 20;  // fake MAP_DUMB offsets

FakeDrmFb *FindFb(int card, uint32_t id, size_t *object) {
  for (size_t i = 0; i < g_objects.size(); ++i) {
    FakeDrmFb &fb = g_fake->cards[g_objects[i].card].fbs[g_objects[i].fb];
    if (g_objects[i].card == card && fb.id == id) {
      *object = i;
      return &fb;
    }
  }
  return nullptr;
}

int CardOf(int fd) {
  auto it = g_cardFds.find(fd);
  return it == g_cardFds.end() ? -1 : it->second;
}

uint32_t GiveHandle(int card, size_t object) {
  if (!g_fake->cards[card].master) return 0;
  const uint32_t handle = g_nextHandle++;
  g_handleObjects[handle] = object;
  g_fake->liveHandles[handle] = card;
  ++g_fake->handlesGiven;
  return handle;
}

template <typename T>
T *Allocate() {
  ++g_fake->liveAllocations;
  return static_cast<T *>(calloc(1, sizeof(T)));
}

template <typename T>
void Release(T *p) {
  if (p == nullptr) return;
  --g_fake->liveAllocations;
  free(p);
}

int FakeOpen(const char *path, int flags) {
  g_fake->opened.push_back(path);
  int n = -1;
  if (sscanf(path, "/dev/dri/card%d", &n) != 1 || n < 0 ||
      size_t(n) >= g_fake->cards.size() || !g_fake->cards[n].exists) {
    errno = ENOENT;
    return -1;
  }
  EXPECT_EQ(flags, O_RDWR | O_CLOEXEC);
  const int fd = memfd_create("card", MFD_CLOEXEC);
  g_cardFds[fd] = n;
  ++g_fake->openFds;
  return fd;
}

int FakeClose(int fd) {
  if (g_cardFds.erase(fd) || g_dmabufFds.erase(fd)) --g_fake->openFds;
  return close(fd);
}

int FakeIoctl(int fd, unsigned long request, void *arg) {
  const int card = CardOf(fd);
  if (request == DRM_IOCTL_MODE_MAP_DUMB && card >= 0) {
    drm_mode_map_dumb *map = static_cast<drm_mode_map_dumb *>(arg);
    auto it = g_handleObjects.find(map->handle);
    if (!g_fake->cards[card].dumbMap || it == g_handleObjects.end()) {
      errno = EINVAL;
      return -1;
    }
    ++g_fake->dumbMaps;
    map->offset = uint64_t(it->second + 1) * kTokenStep;
    return 0;
  }
  if (request == DRM_IOCTL_GEM_CLOSE && card >= 0) {
    const uint32_t handle = static_cast<drm_gem_close *>(arg)->handle;
    auto it = g_fake->liveHandles.find(handle);
    if (it == g_fake->liveHandles.end() || it->second != card) {
      errno = EINVAL;
      return -1;
    }
    g_fake->liveHandles.erase(it);
    g_handleObjects.erase(handle);
    return 0;
  }
  if (request == DMA_BUF_IOCTL_SYNC && g_dmabufFds.count(fd)) {
    const uint64_t flags = static_cast<dma_buf_sync *>(arg)->flags;
    EXPECT_TRUE(flags & DMA_BUF_SYNC_READ);
    ++((flags & DMA_BUF_SYNC_END) ? g_fake->syncEnds : g_fake->syncStarts);
    return 0;
  }
  errno = ENOTTY;
  return -1;
}

void *FakeMmap(size_t length, int prot, int flags, int fd, int64_t offset) {
  int target = -1;
  if (CardOf(fd) >= 0 && offset >= kTokenStep &&
      size_t(offset / kTokenStep) <= g_objects.size() &&
      offset % kTokenStep == 0) {
    target = g_objects[size_t(offset / kTokenStep) - 1].memfd;
    offset = 0;
  } else if (g_dmabufFds.count(fd)) {
    target = fd;
  }
  if (target < 0 || (prot & PROT_WRITE)) {
    errno = EINVAL;
    return MAP_FAILED;
  }
  void *p = mmap(nullptr, length, prot, flags, target, offset);
  if (p != MAP_FAILED) ++g_fake->liveMappings;
  return p;
}

int FakeMunmap(void *addr, size_t length) {
  --g_fake->liveMappings;
  return munmap(addr, length);
}

ssize_t FakePread(int, void *, size_t, int64_t) {
  errno = EINVAL;
  return -1;
}

const kplat::KernelCalls kKernel = {FakeOpen, FakeClose,  FakeIoctl,
                                    FakeMmap, FakeMunmap, FakePread};

drmModeResPtr GetResources(int fd) {
  const int card = CardOf(fd);
  if (card < 0) return nullptr;
  const std::vector<FakeCrtc> &crtcs = g_fake->cards[card].crtcs;
  drmModeResPtr res = Allocate<drmModeRes>();
  res->count_crtcs = int(crtcs.size());
  res->crtcs = static_cast<uint32_t *>(calloc(crtcs.size() + 1, 4));
  for (size_t i = 0; i < crtcs.size(); ++i) res->crtcs[i] = crtcs[i].id;
  return res;
}

void FreeResources(drmModeResPtr res) {
  if (res != nullptr) free(res->crtcs);
  Release(res);
}

drmModeCrtcPtr GetCrtc(int fd, uint32_t id) {
  const int card = CardOf(fd);
  if (card < 0) return nullptr;
  for (const FakeCrtc &c : g_fake->cards[card].crtcs) {
    if (c.id != id) continue;
    drmModeCrtcPtr crtc = Allocate<drmModeCrtc>();
    crtc->crtc_id = c.id;
    crtc->buffer_id = c.fbId;
    crtc->x = c.x;
    crtc->y = c.y;
    crtc->width = c.width;
    crtc->height = c.height;
    crtc->mode_valid = c.modeValid;
    return crtc;
  }
  errno = ENOENT;
  return nullptr;
}

void FreeCrtc(drmModeCrtcPtr crtc) { Release(crtc); }

drmModeFB2Ptr GetFB2(int fd, uint32_t id) {
  const int card = CardOf(fd);
  size_t object = 0;
  FakeDrmFb *fb = card < 0 ? nullptr : FindFb(card, id, &object);
  if (fb == nullptr || !g_fake->cards[card].hasFb2) {
    errno = fb == nullptr ? ENOENT : EINVAL;
    return nullptr;
  }
  ++g_fake->fb2Queries;
  drmModeFB2Ptr out = Allocate<drmModeFB2>();
  out->fb_id = fb->id;
  out->width = fb->width;
  out->height = fb->height;
  out->pixel_format = fb->fourcc;
  out->modifier = fb->modifiers ? fb->modifier : 0;
  out->flags = fb->modifiers ? DRM_MODE_FB_MODIFIERS : 0;
  for (int p = 0; p < fb->planes; ++p) {
    out->handles[p] = GiveHandle(card, object);
    out->pitches[p] = fb->pitch;
    out->offsets[p] = fb->offset;
  }
  return out;
}

void FreeFB2(drmModeFB2Ptr fb) { Release(fb); }

drmModeFBPtr GetFB(int fd, uint32_t id) {
  const int card = CardOf(fd);
  size_t object = 0;
  FakeDrmFb *fb = card < 0 ? nullptr : FindFb(card, id, &object);
  if (fb == nullptr) {
    errno = ENOENT;
    return nullptr;
  }
  ++g_fake->fbQueries;
  drmModeFBPtr out = Allocate<drmModeFB>();
  out->fb_id = fb->id;
  out->width = fb->width;
  out->height = fb->height;
  out->pitch = fb->pitch;
  out->bpp = fb->bpp;
  out->depth = fb->depth;
  out->handle = GiveHandle(card, object);
  return out;
}

void FreeFB(drmModeFBPtr fb) { Release(fb); }

int PrimeHandleToFD(int fd, uint32_t handle, uint32_t flags, int *out) {
  const int card = CardOf(fd);
  auto it = g_handleObjects.find(handle);
  if (card < 0 || it == g_handleObjects.end() || !g_fake->cards[card].prime) {
    errno = EACCES;
    return -1;
  }
  EXPECT_TRUE(flags & DRM_CLOEXEC);
  *out = fcntl(g_objects[it->second].memfd, F_DUPFD_CLOEXEC, 0);
  g_dmabufFds[*out] = int(it->second);
  ++g_fake->openFds;
  ++g_fake->primeExports;
  return 0;
}

const kplat::drm::DrmCalls kDrm = {
    GetResources, FreeResources, GetCrtc, FreeCrtc,       GetFB2,
    FreeFB2,      GetFB,         FreeFB,  PrimeHandleToFD};

}  // namespace

FakeDrmFb FakeDrm::Fb(uint32_t id, uint32_t width, uint32_t height,
                      uint32_t fourcc, uint32_t pitch, uint32_t offset) {
  FakeDrmFb fb;
  fb.id = id;
  fb.width = width;
  fb.height = height;
  fb.fourcc = fourcc;
  fb.pitch = pitch;
  fb.offset = offset;
  fb.bpp = 32;
  fb.depth = 24;
  // Objects are whole pages, as the kernel allocates them.
  fb.memory.assign((offset + size_t(pitch) * height + 4095) / 4096 * 4096,
                   0xCC);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t v = Pixel(fb, x, y);
      memcpy(&fb.memory[offset + size_t(y) * pitch + x * 4], &v, 4);
    }
  return fb;
}

uint32_t FakeDrm::Pixel(const FakeDrmFb &fb, uint32_t x, uint32_t y) {
  return y << 16 | x << 8 | (fb.id & 0xFF);
}

void FakeDrm::Sync() {
  for (Object &o : g_objects) close(o.memfd);
  g_objects.clear();
  for (size_t c = 0; c < cards.size(); ++c)
    for (size_t f = 0; f < cards[c].fbs.size(); ++f) {
      const std::vector<uint8_t> &m = cards[c].fbs[f].memory;
      const int fd = memfd_create("object", MFD_CLOEXEC);
      if (pwrite(fd, m.data(), m.size(), 0) != ssize_t(m.size()))
        ADD_FAILURE() << "could not fill a fake object";
      g_objects.push_back({int(c), f, fd});
    }
}

void InstallFakeDrm(FakeDrm *fake) {
  g_fake = fake;
  fake->Sync();
  kplat::testing::SetFakeKernel(&kKernel);
  kplat::testing::SetFakeDrm(&kDrm);
}

void UninstallFakeDrm() {
  kplat::testing::SetFakeKernel(nullptr);
  kplat::testing::SetFakeDrm(nullptr);
  for (Object &o : g_objects) close(o.memfd);
  g_objects.clear();
  g_handleObjects.clear();
  g_fake = nullptr;
}

}  // namespace ktest
