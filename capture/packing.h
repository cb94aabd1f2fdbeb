// Packing a surface into the packed pixel buffer: top-down rows of exactly
// width x 3 bytes, back to back, in the byte order of the writer.
#pragma once

#include <windows.h>

class CDibSurface;

enum PackOrder {
  kPackBgr,  // as the surface holds it: what the PNG writer takes
  kPackRgb,  // first and third byte swapped: what the JPEG writer takes
};

// Bytes of the packed buffer for a surface of nWidth x nHeight, or 0 when
// that size is not positive or does not fit in 32 bits.
DWORD PackedSize(int nWidth, int nHeight);

// Fills pPacked (PackedSize bytes) from the surface's pixels. Columns past
// m_nWidth are never read.
// The platform's block copy does the work, with the fastest routines the
// CPU runs.
void PackSurface(const CDibSurface &surface, BYTE *pPacked, PackOrder order);
