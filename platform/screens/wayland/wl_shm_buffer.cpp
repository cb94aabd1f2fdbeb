#include "wl_shm_buffer.h"

#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

namespace kplat {
namespace wl {

bool CreateShmBuffer(wl_shm *shm, uint32_t format, int32_t width,
                     int32_t height, int32_t stride, ShmBuffer *buffer) {
  memset(buffer, 0, sizeof *buffer);
  int32_t size = 0;
  if (!shm || width <= 0 || height <= 0 || stride <= 0 ||
      __builtin_mul_overflow(stride, height, &size))
    return false;
  const int fd = memfd_create("kestrel-screen", MFD_CLOEXEC);
  if (fd < 0) return false;
  void *data = MAP_FAILED;
  if (ftruncate(fd, size) == 0)
    data =
        mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  wl_shm_pool *pool = nullptr;
  if (data != MAP_FAILED) pool = wl_shm_create_pool(shm, fd, size);
  // The compositor holds its own reference to the memory once the pool
  // request is sent; the descriptor is no longer needed.
  close(fd);
  if (pool)
    buffer->buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, stride, format);
  if (pool) wl_shm_pool_destroy(pool);
  if (!buffer->buffer) {
    if (data != MAP_FAILED) munmap(data, size_t(size));
    return false;
  }
  buffer->data = static_cast<uint8_t *>(data);
  buffer->size = size_t(size);
  return true;
}

void DestroyShmBuffer(ShmBuffer *buffer) {
  if (buffer->buffer) wl_buffer_destroy(buffer->buffer);
  if (buffer->data) munmap(buffer->data, buffer->size);
  memset(buffer, 0, sizeof *buffer);
}

}  // namespace wl
}  // namespace kplat
