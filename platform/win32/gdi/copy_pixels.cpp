// CopyPixels24: a 24-bit block copy is the conversion of a 24-bit format,
// blue-green-red as it stands or red-green-blue, so it takes the same row
// routines (and their SSSE3 and NEON forms) as the screen formats do.
#include "pixel_convert.h"
#include "winpix.h"

namespace kplat {

void CopyBgr24(const uint8_t *src, ptrdiff_t srcStride, uint8_t *dst,
               ptrdiff_t dstStride, int width, int height, bool swapRedBlue,
               ConvertKernel kernel) {
  PixelFormat format = {24, 0xFF0000, 0x00FF00, 0x0000FF, {}};
  if (swapRedBlue) {
    format.redMask = 0x0000FF;
    format.blueMask = 0xFF0000;
  }
  Bgr24Converter conv;
  PrepareBgr24Converter(format, &conv);
  ConvertToBgr24(conv, src, srcStride, dst, dstStride, width, height, kernel);
}

}  // namespace kplat

extern "C" void WINAPI CopyPixels24(BYTE *lpDst, INT_PTR nDstStride,
                                    const BYTE *lpSrc, INT_PTR nSrcStride,
                                    int nWidth, int nHeight,
                                    BOOL bSwapRedBlue) {
  kplat::CopyBgr24(lpSrc, nSrcStride, lpDst, nDstStride, nWidth, nHeight,
                   bSwapRedBlue != FALSE, kplat::ConvertKernel::kBest);
}
