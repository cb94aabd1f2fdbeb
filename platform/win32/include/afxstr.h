// The framework's string: UTF-16 text in malloc'ed storage.
//
// A CString never throws. When memory for a new value cannot be had, the
// operation leaves the string with a valid value (its old one where it still
// exists, otherwise the empty text) and reports nothing.
#pragma once

#include "windef.h"

class CString {
 public:
  CString();
  CString(const CString &stringSrc);
  // A private copy of the text up to its NUL; NULL gives the empty text.
  CString(LPCWSTR lpsz);
  ~CString();

  const CString &operator=(const CString &stringSrc);
  const CString &operator=(LPCWSTR lpsz);
  // 8-bit text in the system's default code page (CP_ACP), converted with
  // MultiByteToWideChar.
  const CString &operator=(LPCSTR lpsz);

  // printf-style formatting of a wide format: %s takes a wide text (NULL
  // prints as "(null)"), %c a WCHAR, %d and %i an int, %u an unsigned, %x and
  // %X an unsigned in hex, %% a percent sign; flags '-' and '0', a width and,
  // for %s, a precision are understood. Anything else is copied as it stands.
  // The whole result is kept: storage is sized for it before it is written.
  void Format(LPCWSTR lpszFormat, ...);

  int GetLength() const { return m_nDataLength; }
  BOOL IsEmpty() const { return m_nDataLength == 0; }
  void Empty();
  operator LPCWSTR() const { return m_pchData; }
  WCHAR GetAt(int nIndex) const { return m_pchData[nIndex]; }

 private:
  // Points at the NUL-terminated text: a malloc'ed block, or the shared
  // empty text when m_nAllocLength is 0.
  WCHAR *m_pchData;
  int m_nDataLength;
  int m_nAllocLength;

  BOOL AssignCopy(const WCHAR *pch, int nLength);
  BOOL AllocBuffer(int nLength);
  void Release();
};
