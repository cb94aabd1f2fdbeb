#include "pixel_memory.h"

#include <stdlib.h>
#include <sys/mman.h>

#include "hook.h"
#include "wincrt.h"

namespace kplat {
namespace gdi {
namespace {

const size_t kPage = size_t(4) << 10;

// As many blocks as one call holds at once: the screen bitmap, the surface
// and the packed buffer.
enum { kMaxKept = 3 };

struct KeptBlock {
  uint8_t *pixels;
  size_t size;
};
// Plain data without a destructor: a host's call after unload finds it
// empty (StopKeepingPixels) rather than destroyed. Oldest first.
KeptBlock g_kept[kMaxKept] = {};
int g_keptCount = 0;
bool g_keeping = true;

size_t MappedLength(size_t size) { return (size + kPage - 1) / kPage * kPage; }

// Populated at once: every byte of a block is written straight away, and
// one call that maps all of its pages costs less than a fault per page.
// No huge pages: under a hypervisor that takes back free memory in huge-page
// runs, a fresh huge page is likely the memory it took, and after an idle
// spell a capture with them took twice as long as with 4 KiB pages.
uint8_t *MapPixels(size_t size) {
  const size_t length = MappedLength(size);
  if (length < size) return nullptr;
  void *block = mmap(nullptr, length, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  return block == MAP_FAILED ? nullptr : static_cast<uint8_t *>(block);
}

void UnmapPixels(uint8_t *pixels, size_t size) {
  munmap(pixels, MappedLength(size));
}

void DropKept(int i) {
  for (; i + 1 < g_keptCount; ++i) g_kept[i] = g_kept[i + 1];
  --g_keptCount;
}

}  // namespace

uint8_t *AllocatePixels(size_t size) {
  if (size < kMapMinBytes) return static_cast<uint8_t *>(malloc(size));
  // Counted with the heap's calls, so that tests can refuse it the same way.
  if (ShouldFail(KTEST_OP_MALLOC)) return nullptr;
  // A kept block serves a size that maps to the same length.
  for (int i = g_keptCount - 1; i >= 0; --i) {
    if (MappedLength(g_kept[i].size) != MappedLength(size)) continue;
    uint8_t *pixels = g_kept[i].pixels;
    DropKept(i);
    return pixels;
  }
  return MapPixels(size);
}

void ReleasePixels(uint8_t *pixels, size_t size) {
  if (pixels == nullptr) return;
  if (size < kMapMinBytes) {
    free(pixels);
    return;
  }
  if (!g_keeping) {
    UnmapPixels(pixels, size);
    return;
  }
  // The oldest goes first: after a change of screen size, the blocks of the
  // old size leave as the new ones come back.
  if (g_keptCount == kMaxKept) {
    UnmapPixels(g_kept[0].pixels, g_kept[0].size);
    DropKept(0);
  }
  g_kept[g_keptCount++] = KeptBlock{pixels, size};
}

void StopKeepingPixels() {
  g_keeping = false;
  while (g_keptCount > 0) {
    UnmapPixels(g_kept[0].pixels, g_kept[0].size);
    DropKept(0);
  }
}

}  // namespace gdi
}  // namespace kplat
