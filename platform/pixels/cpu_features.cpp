// What this processor runs: the only place that decides which vector
// routines may be chosen. Both answers are cheap reads of what the process
// found at start, so nothing is kept (a kept answer would need a guard).
#include "convert_rows.h"

#if defined(__arm__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace kplat {
namespace rows {

bool HaveSsse3() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("ssse3");
#else
  return false;
#endif
}

// 64-bit ARM always has Advanced SIMD; 32-bit ARM only when the kernel says
// so, and only a build that could compile the routines can use them.
bool HaveNeon() {
#if defined(__aarch64__)
  return true;
#elif defined(__arm__)
  return (getauxval(AT_HWCAP) & HWCAP_NEON) != 0;
#else
  return false;
#endif
}

}  // namespace rows
}  // namespace kplat
