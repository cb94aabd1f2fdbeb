#include "file_stream.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#include "sigpipe.h"

namespace kplat {
namespace {

// The cookie is the descriptor itself: nothing to allocate or free.
int Descriptor(void *cookie) { return int(intptr_t(cookie)); }

// All of size bytes, or as many as went before a failure: the C library
// marks the stream failed when fewer come back.
ssize_t WriteAll(void *cookie, const char *buf, size_t size) {
  SigpipeBlock block;
  BlockSigpipe(&block);
  size_t done = 0;
  int error = 0;
  while (done < size) {
    const ssize_t n = write(Descriptor(cookie), buf + done, size - done);
    if (n > 0) {
      done += size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      error = n < 0 ? errno : EIO;
      break;
    }
  }
  RestoreSigpipe(&block);
  if (error != 0) errno = error;
  return ssize_t(done);
}

ssize_t Read(void *cookie, char *buf, size_t size) {
  for (;;) {
    const ssize_t n = read(Descriptor(cookie), buf, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

int Seek(void *cookie, off64_t *offset, int whence) {
  const off64_t at = lseek64(Descriptor(cookie), *offset, whence);
  if (at < 0) return -1;
  *offset = at;
  return 0;
}

// Not retried on EINTR: Linux has let go of the descriptor either way.
int Close(void *cookie) { return close(Descriptor(cookie)); }

// fopen's mode letters as open flags; false for a mode fopen would refuse.
bool OpenFlags(const char *mode, int *flags, const char **cookieMode) {
  switch (mode[0]) {
    case 'r':
      *flags = O_RDONLY;
      break;
    case 'w':
      *flags = O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case 'a':
      *flags = O_WRONLY | O_CREAT | O_APPEND;
      break;
    default:
      return false;
  }
  bool update = false;
  for (const char *m = mode + 1; *m; ++m) {
    if (*m == '+') {
      update = true;
      *flags = (*flags & ~O_ACCMODE) | O_RDWR;
    } else if (*m == 'x') {
      *flags |= O_EXCL;
    }
  }
  static const char *const kModes[][2] = {
      {"r", "r+"}, {"w", "w+"}, {"a", "a+"}};
  const int kind = mode[0] == 'r' ? 0 : mode[0] == 'w' ? 1 : 2;
  *cookieMode = kModes[kind][update ? 1 : 0];
  return true;
}

}  // namespace

FILE *OpenFileStream(const char *path, const char *mode) {
  int flags = 0;
  const char *cookieMode = nullptr;
  if (path == nullptr || mode == nullptr ||
      !OpenFlags(mode, &flags, &cookieMode)) {
    errno = EINVAL;
    return nullptr;
  }
  // Without O_NONBLOCK, opening a FIFO for writing waits for a reader, for
  // ever if none comes; with it, the open fails with ENXIO at once.
  int fd;
  do {
    fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  const int status = fcntl(fd, F_GETFL);
  if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return nullptr;
  }
  const cookie_io_functions_t io = {Read, WriteAll, Seek, Close};
  FILE *f = fopencookie(reinterpret_cast<void *>(intptr_t(fd)), cookieMode, io);
  if (f == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
  }
  return f;
}

}  // namespace kplat
