// The device's C runtime: its heap and stream close, and the wide-character
// file open. The module's malloc, free and fclose are the runtime's own
// (CrtMalloc, CrtFree, CrtFclose), as the device's core library supplied
// them; the encoders keep the system's.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

void *CrtMalloc(size_t size);
void CrtFree(void *block);
// Closes the stream; EOF when the close failed (the stream is gone anyway).
int CrtFclose(FILE *stream);

// Opens the file at a UTF-16 path. The path is converted to the file system's
// UTF-8 exactly; a path that has no exact UTF-8 form (an unpaired surrogate)
// is not opened and NULL comes back with errno EILSEQ.
FILE *_wfopen(const WCHAR *filename, const WCHAR *mode);

#ifdef __cplusplus
}
#endif

#define malloc(size) CrtMalloc(size)
#define free(block) CrtFree(block)
#define fclose(stream) CrtFclose(stream)
