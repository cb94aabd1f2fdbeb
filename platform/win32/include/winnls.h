// Text conversion of the device's core library. On this platform the
// system's default code page for 8-bit text (CP_ACP) is UTF-8.
#pragma once

#include "windef.h"

#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008

#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_NO_UNICODE_TRANSLATION 1113

#ifdef __cplusplus
extern "C" {
#endif

// Converts cbMultiByte bytes (-1: up to and including the NUL) to UTF-16.
// Returns the number of WCHARs written (or needed, when cchWideChar is 0), or
// 0 on failure with the reason in GetLastError.
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags,
                               LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);

DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);

#ifdef __cplusplus
}
#endif
