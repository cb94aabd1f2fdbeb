#include "shared_memory.h"

#include <sys/mman.h>
#include <unistd.h>

namespace kplat {

bool MapSharedMemfd(size_t size, int *fd, uint8_t **data) {
  const int file = memfd_create("kestrel-screen", MFD_CLOEXEC);
  if (file < 0) return false;
  void *addr = MAP_FAILED;
  if (ftruncate(file, off_t(size)) == 0)
    addr = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
  if (addr == MAP_FAILED) {
    close(file);
    return false;
  }
  *fd = file;
  *data = static_cast<uint8_t *>(addr);
  return true;
}

}  // namespace kplat
