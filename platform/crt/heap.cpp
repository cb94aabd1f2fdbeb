// The C runtime's heap as the module and the platform see it. Every object
// of the library is linked with --wrap=malloc, so their malloc calls land
// here, where a test can make one fail; libjpeg, libpng and zlib keep the
// system's malloc.
#include <stddef.h>

#include "faults.h"

extern "C" void *__real_malloc(size_t size);

extern "C" void *__wrap_malloc(size_t size) {
  if (kplat::ShouldFail(KTEST_OP_MALLOC)) return nullptr;
  return __real_malloc(size);
}
