#include "wl_shm_buffer.h"

#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include "shared_memory.h"

namespace kplat {
namespace wl {
namespace {

// A buffer over fd's pool of poolSize bytes; the pool itself is released at
// once (the buffer keeps what it needs of it).
wl_buffer *BufferInPool(wl_shm *shm, int fd, int32_t poolSize, int32_t offset,
                        uint32_t format, int32_t width, int32_t height,
                        int32_t stride) {
  wl_shm_pool *pool = wl_shm_create_pool(shm, fd, poolSize);
  if (!pool) return nullptr;
  wl_buffer *buffer =
      wl_shm_pool_create_buffer(pool, offset, width, height, stride, format);
  wl_shm_pool_destroy(pool);
  return buffer;
}

}  // namespace

bool CreateShmMemory(size_t size, ShmMemory *memory) {
  memset(memory, 0, sizeof *memory);
  memory->fd = -1;
  if (size == 0 || size > size_t(INT32_MAX)) return false;
  if (!MapSharedMemfd(size, &memory->fd, &memory->data)) return false;
  memory->size = size;
  return true;
}

void DestroyShmMemory(ShmMemory *memory) {
  if (memory->data) munmap(memory->data, memory->size);
  if (memory->fd >= 0) close(memory->fd);
  memset(memory, 0, sizeof *memory);
  memory->fd = -1;
}

bool CreateShmBuffer(wl_shm *shm, uint32_t format, int32_t width,
                     int32_t height, int32_t stride, ShmBuffer *buffer) {
  memset(buffer, 0, sizeof *buffer);
  int32_t size = 0;
  ShmMemory memory;
  if (!shm || width <= 0 || height <= 0 || stride <= 0 ||
      __builtin_mul_overflow(stride, height, &size) ||
      !CreateShmMemory(size_t(size), &memory))
    return false;
  buffer->buffer =
      BufferInPool(shm, memory.fd, size, 0, format, width, height, stride);
  // The compositor holds its own reference to the memory once the pool
  // request is sent; the descriptor is no longer needed.
  close(memory.fd);
  if (!buffer->buffer) {
    munmap(memory.data, memory.size);
    return false;
  }
  buffer->data = memory.data;
  buffer->size = memory.size;
  return true;
}

bool CreateShmBufferIn(wl_shm *shm, const ShmMemory &memory, size_t offset,
                       uint32_t format, int32_t width, int32_t height,
                       int32_t stride, ShmBuffer *buffer) {
  memset(buffer, 0, sizeof *buffer);
  int32_t bytes = 0;
  if (!shm || memory.fd < 0 || width <= 0 || height <= 0 || stride <= 0 ||
      __builtin_mul_overflow(stride, height, &bytes) ||
      memory.size > size_t(INT32_MAX) || offset > memory.size ||
      size_t(bytes) > memory.size - offset)
    return false;
  buffer->buffer = BufferInPool(shm, memory.fd, int32_t(memory.size),
                                int32_t(offset), format, width, height, stride);
  if (!buffer->buffer) return false;
  buffer->data = memory.data + offset;
  return true;
}

void DestroyShmBuffer(ShmBuffer *buffer) {
  if (buffer->buffer) wl_buffer_destroy(buffer->buffer);
  if (buffer->size) munmap(buffer->data, buffer->size);
  memset(buffer, 0, sizeof *buffer);
}

}  // namespace wl
}  // namespace kplat
