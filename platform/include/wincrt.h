// The device's C runtime as the module sees it: files at wide-character
// paths, and the heap.
#pragma once

#include <stdio.h>

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

// Opens the file at a UTF-16 path. The path is converted to the file system's
// UTF-8 exactly; a path that has no exact UTF-8 form (an unpaired surrogate)
// is not opened and NULL comes back with errno EILSEQ.
FILE *_wfopen(const WCHAR *filename, const WCHAR *mode);

// The heap. Screen-sized blocks come from the same pixel memory as bitmaps
// and are kept for the next call; small ones from the C library. A block of
// one is given back only to the other (no realloc).
void *kcrt_malloc(size_t size);
void kcrt_free(void *p);

#ifdef __cplusplus
}
#endif

// The module's malloc and free are the runtime's, as on the device. After
// <stdlib.h>, so that its declarations keep their names.
#if defined(KESTREL_BUILDING_LIBRARY)
#include <stdlib.h>
#define malloc(size) kcrt_malloc(size)
#define free(p) kcrt_free(p)
#endif
