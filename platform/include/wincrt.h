// The wide-character part of the device's C runtime.
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

#ifdef __cplusplus
}
#endif
