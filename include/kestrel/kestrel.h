/* Kestrel: whole-screen capture to a PNG or JPEG file. */
#ifndef KESTREL_KESTREL_H
#define KESTREL_KESTREL_H

/* KESTREL_VERSION_MAJOR, _MINOR and _PATCH: the version of this header,
 * the same as pkg-config --modversion kestrel. */
#include "kestrel/version.h"

/* A UTF-16 code unit. WCHAR names it too, unless the host has a WCHAR of
 * its own (a Windows-compatibility header, say): define KESTREL_NO_WCHAR
 * before including this header, or include it after that one, and use
 * KESTREL_WCHAR. */
#ifdef __cplusplus
typedef char16_t KESTREL_WCHAR;
extern "C" {
#else
#include <stdint.h>
typedef uint_least16_t KESTREL_WCHAR;
#endif

#if !defined(KESTREL_NO_WCHAR) && !defined(_WCHAR_DEFINED) && \
    !defined(KESTREL_WCHAR_DEFINED)
#define KESTREL_WCHAR_DEFINED
typedef KESTREL_WCHAR WCHAR;
#endif

#if defined(KESTREL_BUILDING_LIBRARY)
#define KESTREL_API __attribute__((visibility("default")))
#else
#define KESTREL_API
#endif

/* Captures the whole screen and writes it to lpszPath, a NUL-terminated
 * UTF-16 path. nQuality below 1 writes PNG; 1 or more writes a baseline JPEG
 * at that quality (values above 100 count as 100). Returns 1 when the file
 * was written and closed, 0 otherwise. Calls must not overlap.
 *
 * After a 0, errno says why:
 *   ENODEV     no screen could be reached;
 *   ETIMEDOUT  a screen did not answer within its bound;
 *   EACCES     the screen refused (X authorisation, a denied portal request);
 *   EBUSY      another call is in progress;
 *   EINVAL     lpszPath is null;
 *   EILSEQ     lpszPath has no exact UTF-8 form (an unpaired surrogate);
 *   EOVERFLOW  the screen is above the size ceiling (a 24-bit copy of more
 *              than 2^31 - 1 bytes);
 *   ENOMEM     memory ran out;
 *   EIO        the encoder failed;
 *   otherwise  the system's own value from opening, writing or closing the
 *              file (ENOENT, EACCES, EISDIR, ENOSPC, EPIPE, EFBIG, ...).
 * After a 1, errno is unspecified. */
KESTREL_API int SnapShot(const KESTREL_WCHAR *lpszPath, int nQuality);

#ifdef __cplusplus
}
#endif

#endif
