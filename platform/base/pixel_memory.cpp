#include "pixel_memory.h"

#include <stdlib.h>
#include <sys/mman.h>

#include "hook.h"
#include "wincrt.h"

namespace kplat {
namespace gdi {
namespace {

// Below this the heap serves: its blocks are already mapped, and a mapping
// of its own would cost a system call per bitmap.
const size_t kMapMinBytes = size_t(1) << 20;
const size_t kHugePage = size_t(2) << 20;

struct KeptBlock {
  uint8_t *pixels;
  size_t size;
};
// Plain data without a destructor: a host's call after unload finds it
// empty (StopKeepingPixels) rather than destroyed.
KeptBlock g_kept = {nullptr, 0};
bool g_keeping = true;

size_t MappedLength(size_t size) {
  return (size + kHugePage - 1) / kHugePage * kHugePage;
}

// Maps a whole number of huge pages at a huge-page boundary, so that the
// kernel can back all of it with them.
uint8_t *MapPixels(size_t size) {
  const size_t length = MappedLength(size);
  if (length < size || length > SIZE_MAX - kHugePage) return nullptr;
  void *raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t end = start + length + kHugePage;
  if (end > aligned + length)
    munmap(reinterpret_cast<void *>(aligned + length), end - aligned - length);
  void *block = reinterpret_cast<void *>(aligned);
  madvise(block, length, MADV_HUGEPAGE);  // a hint: refused is fine
  return static_cast<uint8_t *>(block);
}

void UnmapPixels(uint8_t *pixels, size_t size) {
  munmap(pixels, MappedLength(size));
}

}  // namespace

uint8_t *AllocatePixels(size_t size) {
  if (size < kMapMinBytes) return static_cast<uint8_t *>(malloc(size));
  // Counted with the heap's calls, so that tests can refuse it the same way.
  if (ShouldFail(KTEST_OP_MALLOC)) return nullptr;
  // The kept block serves a size that maps to the same length.
  if (g_kept.pixels != nullptr &&
      MappedLength(g_kept.size) == MappedLength(size)) {
    uint8_t *pixels = g_kept.pixels;
    g_kept.pixels = nullptr;
    g_kept.size = 0;
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
  if (g_kept.pixels != nullptr) UnmapPixels(g_kept.pixels, g_kept.size);
  g_kept.pixels = pixels;
  g_kept.size = size;
}

void StopKeepingPixels() {
  g_keeping = false;
  if (g_kept.pixels != nullptr) UnmapPixels(g_kept.pixels, g_kept.size);
  g_kept.pixels = nullptr;
  g_kept.size = 0;
}

}  // namespace gdi
}  // namespace kplat
