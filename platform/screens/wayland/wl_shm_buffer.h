// A wl_buffer in shared memory that the compositor copies an output into.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct wl_shm;
struct wl_buffer;

namespace kplat {
namespace wl {

struct ShmBuffer {
  wl_buffer *buffer;
  uint8_t *data;
  size_t size;
};

// A buffer of height rows of stride bytes in the given wl_shm format. False
// (holding nothing) for sizes the protocol cannot carry or on failure.
bool CreateShmBuffer(wl_shm *shm, uint32_t format, int32_t width,
                     int32_t height, int32_t stride, ShmBuffer *buffer);

// Destroys the buffer and unmaps its memory.
void DestroyShmBuffer(ShmBuffer *buffer);

}  // namespace wl
}  // namespace kplat
