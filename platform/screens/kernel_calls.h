// The kernel calls of the device-backed screens (framebuffer, DRM), as a
// table: the shipped library makes the real system calls, while tests put a
// table of their own in front to fake devices from memory. Header-only, so
// that either backend can be built without the other.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "hook.h"

namespace kplat {

// Offsets are 64-bit whatever off_t is in the caller's build.
struct KernelCalls {
  int (*open)(const char *path, int flags);
  int (*close)(int fd);
  int (*ioctl)(int fd, unsigned long request, void *arg);
  void *(*mmap)(size_t length, int prot, int flags, int fd, int64_t offset);
  int (*munmap)(void *addr, size_t length);
  ssize_t (*pread)(int fd, void *buf, size_t count, int64_t offset);
};

namespace sys {
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");
// Device files only: the open never waits (a FIFO at the path would wait for
// a writer), never makes a terminal the controlling one, and whatever is
// not a character device is refused.
inline int Open(const char *path, int flags) {
  const int fd = ::open(path, flags | O_NONBLOCK | O_NOCTTY);
  struct stat st;
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))) {
    ::close(fd);
    errno = ENODEV;
    return -1;
  }
  return fd;
}
inline int Close(int fd) { return ::close(fd); }
inline int Ioctl(int fd, unsigned long request, void *arg) {
  return ::ioctl(fd, request, arg);
}
inline void *Mmap(size_t length, int prot, int flags, int fd, int64_t offset) {
  return ::mmap(nullptr, length, prot, flags, fd, offset);
}
inline int Munmap(void *addr, size_t length) { return ::munmap(addr, length); }
inline ssize_t Pread(int fd, void *buf, size_t count, int64_t offset) {
  return ::pread(fd, buf, count, offset);
}
inline constexpr KernelCalls kCalls = {Open, Close, Ioctl, Mmap, Munmap, Pread};
}  // namespace sys

// The table in use: a test's fake devices when the hook has one, else the
// system's.
inline const KernelCalls &Kernel() {
  const KernelCalls *fake = g_hook != nullptr ? g_hook->kernelCalls() : nullptr;
  return fake != nullptr ? *fake : sys::kCalls;
}

// Interruptions are rare and short: a device that keeps answering EINTR or
// EAGAIN this often is taken as failing.
constexpr int kMaxKernelRetries = 64;

// An ioctl, retried when a signal or a busy device interrupts it.
inline int RetryIoctl(int fd, unsigned long request, void *arg) {
  int result = -1;
  for (int i = 0; i < kMaxKernelRetries; ++i) {
    result = Kernel().ioctl(fd, request, arg);
    if (result != -1 || (errno != EINTR && errno != EAGAIN)) break;
  }
  return result;
}

// Reads exactly count bytes at offset; false on error or end of file.
inline bool ReadFully(int fd, void *buf, size_t count, int64_t offset) {
  uint8_t *out = static_cast<uint8_t *>(buf);
  int interruptions = 0;
  while (count > 0) {
    const ssize_t n = Kernel().pread(fd, out, count, offset);
    if (n < 0 && errno == EINTR && ++interruptions < kMaxKernelRetries)
      continue;
    if (n <= 0) return false;
    out += n;
    count -= size_t(n);
    offset += n;
  }
  return true;
}

}  // namespace kplat
