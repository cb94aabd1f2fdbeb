#define _GNU_SOURCE
#include "snap_output.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

int OpenAnonymousFile(char *path, size_t room) {
  int fd = memfd_create("kestrel-snap", MFD_CLOEXEC);
  if (fd < 0) {
    /* A kernel without memfd: an unnamed file in the temporary folder. */
    const char *dir = getenv("TMPDIR");
    fd = open(dir && *dir ? dir : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
  }
  /* The library opens paths only; this one names the open file itself. */
  const int n = snprintf(path, room, "/proc/self/fd/%d", fd);
  if (n < 0 || (size_t)n >= room) {
    close(fd);
    errno = ENAMETOOLONG;
    return -1;
  }
  return fd;
}

static int WriteAll(int fd, const char *data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    data += n;
    size -= (size_t)n;
  }
  return 0;
}

int CopyToStandardOutput(int fd) {
  char buf[65536];
  if (lseek(fd, 0, SEEK_SET) != 0) return -1;
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (WriteAll(1, buf, (size_t)n) != 0) return -1;
  }
}

int CreateTimeNamedFile(const char *ext, char *name, size_t room) {
  const time_t now = time(NULL);
  struct tm local;
  char stamp[32];
  if (localtime_r(&now, &local) == NULL ||
      strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local) == 0) {
    errno = EINVAL;
    return -1;
  }
  /* Several pictures in one second get -2, -3, ... after the time. */
  for (int i = 1; i < 1000; ++i) {
    const int n = i == 1
                      ? snprintf(name, room, "kestrel-%s%s", stamp, ext)
                      : snprintf(name, room, "kestrel-%s-%d%s", stamp, i, ext);
    if (n < 0 || (size_t)n >= room) {
      errno = ENAMETOOLONG;
      return -1;
    }
    const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return close(fd);
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}
