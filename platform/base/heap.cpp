// The runtime's heap and stream close. They are the system's, with the one
// hook in front so that tests can make any one of them fail.
#include <stdio.h>
#include <stdlib.h>

#include "hook.h"

extern "C" void *CrtMalloc(size_t size) {
  if (kplat::ShouldFail(KTEST_OP_MALLOC)) return nullptr;
  return malloc(size);
}

extern "C" void CrtFree(void *block) { free(block); }

// A failed close still releases the stream, as a real one does.
extern "C" int CrtFclose(FILE *stream) {
  const bool fail = kplat::ShouldFail(KTEST_OP_FCLOSE);
  const int result = fclose(stream);
  return fail ? EOF : result;
}
