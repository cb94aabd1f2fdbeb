// The module's heap, as the device's C runtime serves it: screen-sized
// blocks (the packed pixel buffer) come from the bitmaps' pixel memory,
// which keeps freed blocks for the next call instead of letting the C heap
// trim them and fault them back in; small blocks stay with the C library.
// The host's allocator and its settings are left alone.
#include <stdlib.h>

#include "gdi/pixel_memory.h"
#include "wincrt.h"

namespace {

// The mapped blocks the module holds, to tell them apart at free. A call
// holds one; a full table sends further blocks to the C heap.
enum { kMaxLive = 8 };

struct LiveBlock {
  void *p;
  size_t size;
};
LiveBlock g_live[kMaxLive] = {};

}  // namespace

extern "C" void *kcrt_malloc(size_t size) {
  if (size >= kplat::gdi::kMapMinBytes) {
    for (LiveBlock &slot : g_live) {
      if (slot.p != nullptr) continue;
      slot.p = kplat::gdi::AllocatePixels(size);
      if (slot.p != nullptr) slot.size = size;
      return slot.p;
    }
  }
  // The parentheses keep the module's own mapping of malloc out.
  return (malloc)(size);
}

extern "C" void kcrt_free(void *p) {
  if (p == nullptr) return;
  for (LiveBlock &slot : g_live) {
    if (slot.p != p) continue;
    kplat::gdi::ReleasePixels(static_cast<uint8_t *>(p), slot.size);
    slot.p = nullptr;
    slot.size = 0;
    return;
  }
  (free)(p);
}
