#include "capture/packing.h"

#include <stdint.h>

#include "surface/dib_surface.h"

DWORD PackedSize(int nWidth, int nHeight) {
  if (nWidth <= 0 || nHeight <= 0) return 0;
  const int64_t nBytes = static_cast<int64_t>(nWidth) * nHeight * 3;
  return nBytes <= INT32_MAX ? static_cast<DWORD>(nBytes) : 0;
}

namespace {

// One row, pixel by pixel, three bytes each. Plain byte loops with no call
// inside, which the compiler turns into wide copies and shuffles.
void PackRowBgr(const BYTE *__restrict pSrc, BYTE *__restrict pDst,
                int nWidth) {
  for (int x = 0; x < nWidth; ++x) {
    pDst[3 * x] = pSrc[3 * x];
    pDst[3 * x + 1] = pSrc[3 * x + 1];
    pDst[3 * x + 2] = pSrc[3 * x + 2];
  }
}

void PackRowRgb(const BYTE *__restrict pSrc, BYTE *__restrict pDst,
                int nWidth) {
  for (int x = 0; x < nWidth; ++x) {
    pDst[3 * x] = pSrc[3 * x + 2];
    pDst[3 * x + 1] = pSrc[3 * x + 1];
    pDst[3 * x + 2] = pSrc[3 * x];
  }
}

}  // namespace

void PackSurface(const CDibSurface &surface, BYTE *pPacked, PackOrder order) {
  const int nWidth = surface.m_nWidth;
  const int nHeight = surface.m_nHeight;
  const size_t nSrcRow = static_cast<size_t>(surface.m_nStride) * 3;
  const size_t nDstRow = static_cast<size_t>(nWidth) * 3;
  for (int y = 0; y < nHeight; ++y) {
    // The surface is bottom-up: the picture's row y is its row H - 1 - y.
    const BYTE *pSrc = surface.m_pBits + (nHeight - 1 - y) * nSrcRow;
    BYTE *pDst = pPacked + y * nDstRow;
    if (order == kPackBgr)
      PackRowBgr(pSrc, pDst, nWidth);
    else
      PackRowRgb(pSrc, pDst, nWidth);
  }
}
