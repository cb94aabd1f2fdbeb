// Pixel block copies of the device's core library, done with whatever the
// processor offers for them.
#pragma once

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

// Copies nHeight rows of nWidth 3-byte pixels: row r of the source starts
// at lpSrc + r * nSrcStride and of the destination at lpDst + r * nDstStride
// (strides in bytes; either may be negative). With bSwapRedBlue the first
// and third byte of every pixel trade places (blue-green-red becomes
// red-green-blue). Reads and writes only the rows' own pixels; the blocks
// must not overlap. Nothing is copied for a width or height below 1.
void WINAPI CopyPixels24(BYTE *lpDst, INT_PTR nDstStride, const BYTE *lpSrc,
                         INT_PTR nSrcStride, int nWidth, int nHeight,
                         BOOL bSwapRedBlue);

#ifdef __cplusplus
}
#endif
