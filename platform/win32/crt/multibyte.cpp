// 8-bit to UTF-16 conversion. The system's default code page is UTF-8, so
// CP_ACP and CP_UTF8 are the same conversion and no other page exists.
#include <limits.h>
#include <string.h>

#include "utf.h"
#include "winnls.h"

namespace {

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

extern "C" int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags,
                                          LPCSTR lpMultiByteStr,
                                          int cbMultiByte, LPWSTR lpWideCharStr,
                                          int cchWideChar) {
  if (CodePage != CP_ACP && CodePage != CP_UTF8) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (dwFlags != 0 && dwFlags != MB_ERR_INVALID_CHARS) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 ||
      cchWideChar < 0 || (cchWideChar > 0 && lpWideCharStr == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }

  size_t bytes;
  if (cbMultiByte == -1) {
    // The terminator is converted too and counted in the result.
    bytes = strlen(lpMultiByteStr) + 1;
    if (bytes > static_cast<size_t>(INT_MAX)) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
  } else {
    bytes = static_cast<size_t>(cbMultiByte);
  }

  const bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
  size_t units;
  if (!kplat::Utf8ToUtf16Length(lpMultiByteStr, bytes, strict, &units)) {
    return Fail(ERROR_NO_UNICODE_TRANSLATION);
  }
  // units <= bytes <= INT_MAX: the count always fits the result.
  if (cchWideChar == 0) return static_cast<int>(units);
  if (units > static_cast<size_t>(cchWideChar)) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  return static_cast<int>(
      kplat::Utf8ToUtf16(lpMultiByteStr, bytes, lpWideCharStr));
}
