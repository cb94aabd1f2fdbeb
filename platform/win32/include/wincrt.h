// The device's C runtime: its heap and stream close, and the wide-character
// file open. The malloc, free and fclose of the module and the platform are
// the runtime's own, as the device's core library supplied them; the
// encoders keep the system's.
#pragma once

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

void *CrtMalloc(size_t size);
void CrtFree(void *block);
// The module's heap: screen-sized blocks come from the same pixel memory as
// bitmaps and are kept for the next call, small ones from CrtMalloc. A
// block of one is given back only to the other.
void *CrtModuleMalloc(size_t size);
void CrtModuleFree(void *block);
// Closes the stream; EOF when the close failed (the stream is gone anyway).
int CrtFclose(FILE *stream);

// Opens the file at a UTF-16 path. The path is converted to the file system's
// UTF-8 exactly; a path that has no exact UTF-8 form (an unpaired surrogate)
// is not opened and NULL comes back with errno EILSEQ.
FILE *_wfopen(const WCHAR *filename, const WCHAR *mode);

// Why the call in progress on this thread failed, as an errno value. The
// first reason noted after _clear_call_errno is kept: the cleanup after a
// failure (free, fclose, ...) and the screens tried after one that failed
// cannot replace it. Noting 0 does nothing; _get_call_errno gives 0 when
// nothing was noted.
void _clear_call_errno(void);
void _note_call_errno(int error);
int _get_call_errno(void);

#ifdef __cplusplus
}
#endif

#if defined(KESTREL_MODULE)
#define malloc(size) CrtModuleMalloc(size)
#define free(block) CrtModuleFree(block)
#else
#define malloc(size) CrtMalloc(size)
#define free(block) CrtFree(block)
#endif
#define fclose(stream) CrtFclose(stream)
