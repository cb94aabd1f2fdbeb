// wl_buffers in shared memory that the compositor copies an output into:
// memory of their own, or a place inside a picture's shared memory (then
// the compositor writes straight into the picture).
#pragma once

#include <stddef.h>
#include <stdint.h>

struct wl_shm;
struct wl_buffer;

namespace kplat {
namespace wl {

struct ShmBuffer {
  wl_buffer *buffer;
  uint8_t *data;  // the buffer's first pixel
  size_t size;    // bytes mapped for the buffer alone, 0 inside a picture
};

// Shared memory that can be offered to the compositor as a pool.
struct ShmMemory {
  int fd;
  uint8_t *data;
  size_t size;
};

// size bytes of zeroed shared memory (size fits a pool: at most INT32_MAX).
// False (holding nothing) on failure.
bool CreateShmMemory(size_t size, ShmMemory *memory);

void DestroyShmMemory(ShmMemory *memory);

// A buffer of height rows of stride bytes in the given wl_shm format. False
// (holding nothing) for sizes the protocol cannot carry or on failure.
bool CreateShmBuffer(wl_shm *shm, uint32_t format, int32_t width,
                     int32_t height, int32_t stride, ShmBuffer *buffer);

// The same, over memory's bytes from offset on; false when they do not fit.
bool CreateShmBufferIn(wl_shm *shm, const ShmMemory &memory, size_t offset,
                       uint32_t format, int32_t width, int32_t height,
                       int32_t stride, ShmBuffer *buffer);

// Destroys the buffer and unmaps memory of its own.
void DestroyShmBuffer(ShmBuffer *buffer);

}  // namespace wl
}  // namespace kplat
