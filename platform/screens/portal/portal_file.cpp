#include "portal_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "png_picture.h"

namespace kplat {
namespace portal {

bool TakePortalFile(const char *path, uid_t owner, Picture *picture) {
  memset(picture, 0, sizeof *picture);
  // Non-blocking, so a FIFO or device cannot hold the open; the checks
  // below are made on what was opened, not on the name.
  const int fd =
      open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
      opened.st_uid != owner || opened.st_nlink != 1) {
    close(fd);
    return false;
  }
  FILE *file = fdopen(fd, "rb");
  if (!file) {
    close(fd);
    return false;
  }
  const bool ok = ReadPngPicture(file, picture);
  fclose(file);
  // Removed only while the name still leads to the file that was read.
  struct stat named;
  if (lstat(path, &named) == 0 && S_ISREG(named.st_mode) &&
      named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
    unlink(path);
  return ok;
}

}  // namespace portal
}  // namespace kplat
