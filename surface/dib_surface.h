// A 24-bit device-independent surface: bottom-up rows of blue-green-red
// pixels, each row m_nStride pixels long, read in place through m_pBits.
#pragma once

#include <afxwin.h>

class CDibSurface {
 public:
  CDibSurface();
  virtual ~CDibSurface();

  // The width rounded up to a multiple of 4 pixels.
  static int AlignWidth(int nWidth);

  // (Re)makes the section at the given size. Always returns 1; when the
  // section cannot be made (no memory, or a size whose bytes do not fit in
  // 32 bits) the surface is left without pixel memory: m_pBits is NULL.
  int Create(int nWidth, int nHeight);

  // Sizes the surface to hSource and copies all of its pixels in, converted
  // to 24 bits. hSource stays the caller's and ends selected into no
  // context. When anything fails the surface ends without pixel memory
  // (m_pBits NULL), so a caller never reads pixels that were not copied.
  void CopyFrom(HBITMAP hSource);

  void DestroyDC();

  int m_nWidth;
  int m_nHeight;
  int m_nStride;
  BYTE *m_pBits;
  HBITMAP m_hBitmap;
  CDC *m_pDC;
  HBITMAP m_hOldBitmap;

 private:
  void DeleteSection();

  CDibSurface(const CDibSurface &) = delete;
  CDibSurface &operator=(const CDibSurface &) = delete;
};
