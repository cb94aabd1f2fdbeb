#include "fake_fbdev.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "fakes.h"
#include "kernel_calls.h"

namespace ktest {
namespace {

FakeFramebuffer *g_fake = nullptr;
int g_memfd = -1;  // holds the device memory; each open dups it
std::vector<int> g_fds;
bool g_gone = false;

bool Ours(int fd) {
  return std::find(g_fds.begin(), g_fds.end(), fd) != g_fds.end();
}

int FakeOpen(const char *path, int flags) {
  g_fake->lastPath = path;
  ++g_fake->opens;
  if (g_gone || g_fake->path != path) {
    errno = ENOENT;
    return -1;
  }
  if ((flags & O_ACCMODE) != O_RDONLY || !(flags & O_CLOEXEC)) {
    errno = EINVAL;  // the backend only ever reads
    return -1;
  }
  const int fd = fcntl(g_memfd, F_DUPFD_CLOEXEC, 0);
  if (fd >= 0) {
    g_fds.push_back(fd);
    ++g_fake->openFds;
  }
  return fd;
}

int FakeClose(int fd) {
  if (Ours(fd)) {
    g_fds.erase(std::find(g_fds.begin(), g_fds.end(), fd));
    --g_fake->openFds;
  }
  return close(fd);
}

int FakeIoctl(int fd, unsigned long request, void *arg) {
  if (!Ours(fd) || g_gone) {
    errno = Ours(fd) ? ENODEV : EBADF;
    return -1;
  }
  switch (request) {
    case FBIOGET_VSCREENINFO:
      memcpy(arg, &g_fake->var, sizeof(g_fake->var));
      return 0;
    case FBIOGET_FSCREENINFO:
      memcpy(arg, &g_fake->fix, sizeof(g_fake->fix));
      return 0;
    case FBIOGETCMAP: {
      // As the kernel: only what overlaps the driver's map is copied.
      fb_cmap *cmap = static_cast<fb_cmap *>(arg);
      if (cmap->start >= g_fake->cmapLength) {
        errno = EINVAL;
        return -1;
      }
      const uint32_t n = std::min(cmap->len, g_fake->cmapLength - cmap->start);
      for (uint32_t i = 0; i < n; ++i) {
        cmap->red[i] = g_fake->red[cmap->start + i];
        cmap->green[i] = g_fake->green[cmap->start + i];
        cmap->blue[i] = g_fake->blue[cmap->start + i];
      }
      return 0;
    }
    default:
      errno = ENOTTY;
      return -1;
  }
}

void *FakeMmap(size_t length, int prot, int flags, int fd, int64_t offset) {
  if (!Ours(fd) || !g_fake->mmapAllowed || (prot & PROT_WRITE) ||
      length > g_fake->fix.smem_len) {
    errno = ENODEV;
    return MAP_FAILED;
  }
  void *p = mmap(nullptr, length, prot, flags, fd, offset);
  if (p != MAP_FAILED) {
    ++g_fake->mmaps;
    ++g_fake->liveMappings;
  }
  return p;
}

int FakeMunmap(void *addr, size_t length) {
  --g_fake->liveMappings;
  return munmap(addr, length);
}

ssize_t FakePread(int fd, void *buf, size_t count, int64_t offset) {
  ++g_fake->preads;
  if (g_gone) {
    errno = ENODEV;
    return -1;
  }
  return pread(fd, buf, count, offset);
}

const kplat::KernelCalls kFakeCalls = {FakeOpen, FakeClose,  FakeIoctl,
                                       FakeMmap, FakeMunmap, FakePread};

}  // namespace

void FakeFramebuffer::SetUp(uint32_t xres, uint32_t yres, uint32_t bpp,
                            uint32_t visual) {
  var = {};
  fix = {};
  var.xres = var.xres_virtual = xres;
  var.yres = var.yres_virtual = yres;
  var.bits_per_pixel = bpp;
  fix.type = FB_TYPE_PACKED_PIXELS;
  fix.visual = visual;
  fix.line_length = (xres * bpp + 7) / 8;
  fix.smem_len = fix.line_length * yres;
  memory.assign(fix.smem_len, 0);
}

void FakeFramebuffer::Put(uint32_t row, uint32_t byte,
                          std::vector<uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(),
            memory.begin() + row * fix.line_length + byte);
}

void FakeFramebuffer::PutPixel(uint32_t row, uint32_t x, uint32_t pixel) {
  const uint32_t bytes = var.bits_per_pixel / 8;
  std::vector<uint8_t> le;
  for (uint32_t b = 0; b < bytes; ++b) le.push_back(uint8_t(pixel >> (8 * b)));
  Put(row, x * bytes, le);
}

void FakeFramebuffer::Sync() {
  if (ftruncate(g_memfd, 0) != 0 ||
      ftruncate(g_memfd, off_t(memory.size())) != 0 ||
      pwrite(g_memfd, memory.data(), memory.size(), 0) !=
          ssize_t(memory.size()))
    ADD_FAILURE() << "could not fill the fake device";
}

void FakeFramebuffer::Vanish() {
  g_gone = true;
  if (ftruncate(g_memfd, 0) != 0) abort();
}

void InstallFake(FakeFramebuffer *fake) {
  g_fake = fake;
  g_gone = false;
  g_memfd = memfd_create("fake-fb", MFD_CLOEXEC);
  fake->Sync();
  kplat::testing::SetFakeKernel(&kFakeCalls);
}

void UninstallFake() {
  kplat::testing::SetFakeKernel(nullptr);
  close(g_memfd);
  g_memfd = -1;
  g_fake = nullptr;
}

}  // namespace ktest
