#include "packing.h"

#include <stdint.h>

#include "../surface/dib_surface.h"

DWORD PackedSize(int nWidth, int nHeight) {
  if (nWidth <= 0 || nHeight <= 0) return 0;
  const int64_t nBytes = static_cast<int64_t>(nWidth) * nHeight * 3;
  return nBytes <= INT32_MAX ? static_cast<DWORD>(nBytes) : 0;
}

void PackSurface(const CDibSurface &surface, BYTE *pPacked, PackOrder order) {
  const int nWidth = surface.m_nWidth;
  const int nHeight = surface.m_nHeight;
  if (nWidth <= 0 || nHeight <= 0) return;
  const INT_PTR nSrcRow = static_cast<INT_PTR>(surface.m_nStride) * 3;
  // The surface is bottom-up: the picture's top row is its last, and the
  // rows are walked backwards. One call copies the whole picture.
  const BYTE *pTop = surface.m_pBits + (nHeight - 1) * nSrcRow;
  CopyPixels24(pPacked, static_cast<INT_PTR>(nWidth) * 3, pTop, -nSrcRow,
               nWidth, nHeight, order == kPackRgb ? TRUE : FALSE);
}
