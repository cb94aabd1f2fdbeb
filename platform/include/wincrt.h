// The wide-character part of the device's C runtime.
#pragma once

#include <errno.h>
#include <stdio.h>

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

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
