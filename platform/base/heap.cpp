// The runtime's heap and stream close: the system's, with the one hook in
// front so that tests can make any one of them fail. The module's heap adds
// screen-sized blocks (the packed pixel buffer) from the bitmaps' pixel
// memory, which keeps freed blocks for the next call instead of letting the
// C heap trim them and fault them back in. The host's allocator and its
// settings are left alone.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "hook.h"
#include "pixel_memory.h"

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

extern "C" void *CrtMalloc(size_t size) {
  if (kplat::ShouldFail(KTEST_OP_MALLOC)) return nullptr;
  return malloc(size);
}

extern "C" void CrtFree(void *block) { free(block); }

extern "C" void *CrtModuleMalloc(size_t size) {
  if (size >= kplat::gdi::kMapMinBytes) {
    for (LiveBlock &slot : g_live) {
      if (slot.p != nullptr) continue;
      // Counted with the heap's calls inside, like every allocation.
      slot.p = kplat::gdi::AllocatePixels(size);
      if (slot.p != nullptr) slot.size = size;
      return slot.p;
    }
  }
  return CrtMalloc(size);
}

extern "C" void CrtModuleFree(void *block) {
  if (block == nullptr) return;
  for (LiveBlock &slot : g_live) {
    if (slot.p != block) continue;
    kplat::gdi::ReleasePixels(static_cast<uint8_t *>(block), slot.size);
    slot.p = nullptr;
    slot.size = 0;
    return;
  }
  free(block);
}

// A failed close still releases the stream, as a real one does.
extern "C" int CrtFclose(FILE *stream) {
  const bool fail = kplat::ShouldFail(KTEST_OP_FCLOSE);
  const int result = fclose(stream);
  return fail ? EOF : result;
}
