// A device context held by an object: the object deletes what it holds.
#include "afxwin.h"

CDC::CDC() : m_hDC(nullptr) {}

CDC::~CDC() {
  if (m_hDC != nullptr) ::DeleteDC(Detach());
}

BOOL CDC::Attach(HDC hDC) {
  if (hDC == nullptr || m_hDC != nullptr) return FALSE;
  m_hDC = hDC;
  return TRUE;
}

HDC CDC::Detach() {
  HDC hDC = m_hDC;
  m_hDC = nullptr;
  return hDC;
}

BOOL CDC::DeleteDC() {
  if (m_hDC == nullptr) return FALSE;
  return ::DeleteDC(Detach());
}
