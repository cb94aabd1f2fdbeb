// The C runtime's heap and stream close as the module and the platform see
// them. Every object of the library is linked with --wrap=malloc and
// --wrap=fclose, so those calls land here, where a test can make one fail;
// libjpeg, libpng and zlib keep the system's own.
#include <stddef.h>
#include <stdio.h>

#include "seam/test_seam.h"

extern "C" void *__real_malloc(size_t size);

extern "C" void *__wrap_malloc(size_t size) {
  if (kplat::ShouldFail(KTEST_OP_MALLOC)) return nullptr;
  return __real_malloc(size);
}

extern "C" int __real_fclose(FILE *stream);

// A failed close still releases the stream, as a real one does.
extern "C" int __wrap_fclose(FILE *stream) {
  const bool fail = kplat::ShouldFail(KTEST_OP_FCLOSE);
  const int result = __real_fclose(stream);
  return fail ? EOF : result;
}
