#include "encoder_alloc.h"

#include <link.h>
#include <stdint.h>
#include <string.h>

// The sanitizers bring allocators of their own, which this must not replace.
#if defined(__SANITIZE_ADDRESS__)
#define KFAULT_NO_ALLOC 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KFAULT_NO_ALLOC 1
#endif
#endif

namespace kfault {
namespace {

struct Range {
  uintptr_t lo, hi;
};
Range g_ranges[32];
int g_nRanges;
volatile bool g_armed;
unsigned g_calls;
unsigned g_failAt;
long g_live;

bool IsEncoderLibrary(const char *name) {
  return strstr(name, "libjpeg") != nullptr ||
         strstr(name, "libpng") != nullptr ||
         strstr(name, "libz.so") != nullptr;
}

int AddRanges(struct dl_phdr_info *info, size_t, void *) {
  if (info->dlpi_name == nullptr || !IsEncoderLibrary(info->dlpi_name))
    return 0;
  for (int i = 0; i < info->dlpi_phnum && g_nRanges < 32; ++i) {
    const ElfW(Phdr) &ph = info->dlpi_phdr[i];
    if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X)) {
      const uintptr_t lo = info->dlpi_addr + ph.p_vaddr;
      g_ranges[g_nRanges++] = {lo, lo + ph.p_memsz};
    }
  }
  return 0;
}

bool FromEncoder(void *caller) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(caller);
  for (int i = 0; i < g_nRanges; ++i)
    if (a >= g_ranges[i].lo && a < g_ranges[i].hi) return true;
  return false;
}

// Whether this allocation, made from caller, is to fail. Unused where the
// sanitizer owns the allocator and no replacement is built.
[[maybe_unused]] bool Refuse(void *caller) {
  if (!g_armed || !FromEncoder(caller)) return false;
  return ++g_calls == g_failAt;
}

}  // namespace

void ArmEncoderAllocFailure(unsigned n) {
  if (g_nRanges == 0) dl_iterate_phdr(AddRanges, nullptr);
  g_calls = 0;
  g_failAt = n;
  g_armed = true;
}

void DisarmEncoderAlloc() { g_armed = false; }
unsigned EncoderAllocations() { return g_calls; }
long LiveBlocks() { return g_live; }

#ifdef KFAULT_NO_ALLOC
bool EncoderAllocAvailable() { return false; }
#else
bool EncoderAllocAvailable() {
  return g_nRanges > 0 || (dl_iterate_phdr(AddRanges, nullptr), g_nRanges > 0);
}
#endif

}  // namespace kfault

#ifndef KFAULT_NO_ALLOC
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);

#define KFAULT_EXPORT __attribute__((visibility("default")))

KFAULT_EXPORT void *malloc(size_t size) {
  if (kfault::Refuse(__builtin_return_address(0))) return nullptr;
  void *p = __libc_malloc(size);
  if (p != nullptr) ++kfault::g_live;
  return p;
}

KFAULT_EXPORT void *calloc(size_t n, size_t size) {
  if (kfault::Refuse(__builtin_return_address(0))) return nullptr;
  void *p = __libc_calloc(n, size);
  if (p != nullptr) ++kfault::g_live;
  return p;
}

KFAULT_EXPORT void *realloc(void *old, size_t size) {
  if (kfault::Refuse(__builtin_return_address(0))) return nullptr;
  void *p = __libc_realloc(old, size);
  if (old == nullptr && p != nullptr) ++kfault::g_live;
  if (old != nullptr && size == 0) --kfault::g_live;
  return p;
}

KFAULT_EXPORT void free(void *p) {
  if (p != nullptr) --kfault::g_live;
  __libc_free(p);
}
}  // extern "C"
#endif
