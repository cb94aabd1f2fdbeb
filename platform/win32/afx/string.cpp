// CString storage: a malloc'ed block of m_nAllocLength + 1 WCHARs, or the
// shared empty text. Every change that needs a new block gets it before the
// old one is given up, so a failed allocation leaves the old text in place.
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "afxstr.h"
#include "string_storage.h"
#include "utf.h"
#include "wincrt.h"
#include "winnls.h"

namespace kplat {

// Constant-initialised and never written: strings built by other static
// constructors may point at it before this file's statics are reached.
const WCHAR kAfxEmptyText[1] = {0};

WCHAR *AfxAllocText(int nLength) {
  if (nLength <= 0 || nLength > kAfxMaxLength) return nullptr;
  const size_t units = static_cast<size_t>(nLength) + 1;
  WCHAR *p = static_cast<WCHAR *>(malloc(units * sizeof(WCHAR)));
  if (p != nullptr) p[nLength] = 0;
  return p;
}

}  // namespace kplat

namespace {

WCHAR *EmptyText() { return const_cast<WCHAR *>(kplat::kAfxEmptyText); }

// Length of a NUL-terminated text, or -1 when it is too long for a CString.
int TextLength(LPCWSTR lpsz) {
  size_t n = kplat::Utf16Length(lpsz);
  return n > static_cast<size_t>(kplat::kAfxMaxLength) ? -1
                                                       : static_cast<int>(n);
}

}  // namespace

CString::CString()
    : m_pchData(EmptyText()), m_nDataLength(0), m_nAllocLength(0) {}

CString::CString(const CString &stringSrc) : CString() {
  AssignCopy(stringSrc.m_pchData, stringSrc.m_nDataLength);
}

CString::CString(LPCWSTR lpsz) : CString() {
  if (lpsz == nullptr) return;
  int n = TextLength(lpsz);
  if (n > 0) AssignCopy(lpsz, n);
}

CString::~CString() {
  Release();
  // A module-wide string may still be used by a call a host makes from its
  // own exit handlers, after the exit list destroyed it: it must be left
  // empty, not pointing at the freed text. The compiler may drop stores
  // into an object whose destructor is ending; this keeps them.
  __asm__ __volatile__("" : : "r"(this) : "memory");
}

const CString &CString::operator=(const CString &stringSrc) {
  AssignCopy(stringSrc.m_pchData, stringSrc.m_nDataLength);
  return *this;
}

const CString &CString::operator=(LPCWSTR lpsz) {
  if (lpsz == nullptr) {
    Release();
    return *this;
  }
  int n = TextLength(lpsz);
  if (n >= 0) AssignCopy(lpsz, n);
  return *this;
}

const CString &CString::operator=(LPCSTR lpsz) {
  if (lpsz == nullptr) {
    Release();
    return *this;
  }
  const size_t n = strlen(lpsz);
  // n + 1 is handed to the conversion as an int.
  if (n > static_cast<size_t>(kplat::kAfxMaxLength)) return *this;
  if (n == 0) {
    Release();
    return *this;
  }
  const int nBytes = static_cast<int>(n);
  // UTF-8 never needs more WCHARs than it has bytes, so n + 1 holds the
  // whole text and its terminator.
  if (nBytes > m_nAllocLength && !AllocBuffer(nBytes)) return *this;
  int c = MultiByteToWideChar(CP_ACP, 0, lpsz, -1, m_pchData, nBytes + 1);
  if (c > 0) {
    m_pchData[c - 1] = 0;
  } else {
    m_pchData[0] = 0;
  }
  m_nDataLength = static_cast<int>(kplat::Utf16Length(m_pchData));
  return *this;
}

void CString::Empty() { Release(); }

BOOL CString::AssignCopy(const WCHAR *pch, int nLength) {
  if (nLength <= 0) {
    Release();
    return TRUE;
  }
  if (nLength <= m_nAllocLength) {
    // The source may be this string's own text.
    memmove(m_pchData, pch, static_cast<size_t>(nLength) * sizeof(WCHAR));
    m_pchData[nLength] = 0;
    m_nDataLength = nLength;
    return TRUE;
  }
  WCHAR *p = kplat::AfxAllocText(nLength);
  if (p == nullptr) return FALSE;
  memcpy(p, pch, static_cast<size_t>(nLength) * sizeof(WCHAR));
  Release();
  m_pchData = p;
  m_nDataLength = m_nAllocLength = nLength;
  return TRUE;
}

BOOL CString::AllocBuffer(int nLength) {
  if (nLength == 0) {
    Release();
    return TRUE;
  }
  WCHAR *p = kplat::AfxAllocText(nLength);
  if (p == nullptr) return FALSE;
  Release();
  p[0] = 0;
  m_pchData = p;
  m_nDataLength = 0;
  m_nAllocLength = nLength;
  return TRUE;
}

void CString::Release() {
  if (m_nAllocLength > 0) free(m_pchData);
  m_pchData = EmptyText();
  m_nDataLength = 0;
  m_nAllocLength = 0;
}
