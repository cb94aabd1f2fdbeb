// CopyPixels24: a 24-bit block copy is the conversion of a 24-bit format,
// blue-green-red as it stands or red-green-blue, so it takes the same row
// routines (and their SSSE3 and NEON forms) as the screen formats do.
#include "pixel_convert.h"
#include "winpix.h"

namespace kplat {

void CopyBgr24(const uint8_t *src, ptrdiff_t srcStride, uint8_t *dst,
               ptrdiff_t dstStride, int width, int height, bool swapRedBlue,
               ConvertKernel kernel) {
  // The 24-bit routines read only the byte places; the tables that
  // PrepareBgr24Converter would fill are left alone (a small screen's copy
  // takes less time than filling them).
  Bgr24Converter conv;
  conv.path = Bgr24Converter::Path::kBytes24;
  conv.byteAligned = true;
  conv.shift[0] = swapRedBlue ? 16 : 0;
  conv.shift[1] = 8;
  conv.shift[2] = swapRedBlue ? 0 : 16;
  conv.max[0] = conv.max[1] = conv.max[2] = 0xFF;
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
