#include "surface/dib_surface.h"

#include <stdint.h>

namespace {

// About 96 dots per inch.
const LONG kPelsPerMeter = 3780;

// Widths whose aligned value still fits in an int.
const int kMaxWidth = INT32_MAX - 3;

}  // namespace

CDibSurface::CDibSurface()
    : m_nWidth(0),
      m_nHeight(0),
      m_nStride(0),
      m_pBits(NULL),
      m_hBitmap(NULL),
      m_pDC(NULL),
      m_hOldBitmap(NULL) {}

CDibSurface::~CDibSurface() {
  if (m_hBitmap != NULL) {
    DestroyDC();
    DeleteObject(m_hBitmap);
  }
}

int CDibSurface::AlignWidth(int nWidth) {
  // In 64 bits so that no width overflows; Create refuses widths whose
  // result would not fit.
  return static_cast<int>((static_cast<int64_t>(nWidth) + 3) / 4 * 4);
}

void CDibSurface::DeleteSection() {
  if (m_hBitmap != NULL) {
    DeleteObject(m_hBitmap);
    m_hBitmap = NULL;
  }
  m_pBits = NULL;
}

int CDibSurface::Create(int nWidth, int nHeight) {
  DeleteSection();

  m_nWidth = nWidth;
  m_nHeight = nHeight;
  m_nStride = nWidth >= 0 && nWidth <= kMaxWidth ? AlignWidth(nWidth) : 0;

  // The section's bytes must fit in the header's 32-bit size (and in an
  // int, which readers compute offsets with); a larger one is not made.
  const int64_t nBytes = static_cast<int64_t>(nHeight) * m_nStride * 3;
  if (nWidth < 0 || nWidth > kMaxWidth || nHeight < 0 || nBytes > INT32_MAX) {
    _note_call_errno(EOVERFLOW);
    return 1;
  }

  BITMAPINFO bmi;
  memset(&bmi, 0, sizeof(bmi));
  BITMAPINFOHEADER &hdr = bmi.bmiHeader;
  hdr.biSize = sizeof(BITMAPINFOHEADER);
  hdr.biWidth = m_nStride;
  hdr.biHeight = m_nHeight;  // positive: rows bottom-up
  hdr.biPlanes = 1;
  hdr.biBitCount = 24;
  hdr.biCompression = BI_RGB;
  hdr.biSizeImage = static_cast<DWORD>(nBytes);
  hdr.biXPelsPerMeter = kPelsPerMeter;
  hdr.biYPelsPerMeter = kPelsPerMeter;
  hdr.biClrUsed = 0;
  hdr.biClrImportant = 0;

  HDC hdcScreen = GetDC(NULL);
  void *pBits = NULL;
  m_hBitmap =
      CreateDIBSection(hdcScreen, &bmi, DIB_RGB_COLORS, &pBits, NULL, 0);
  if (hdcScreen != NULL) ReleaseDC(NULL, hdcScreen);

  m_pBits = m_hBitmap != NULL ? static_cast<BYTE *>(pBits) : NULL;
  if (m_pBits == NULL) {
    _note_call_errno(ENOMEM);
    DeleteSection();
  }
  return 1;
}

void CDibSurface::CopyFrom(HBITMAP hSource) {
  BITMAP bm;
  if (GetObject(hSource, sizeof(BITMAP), &bm) != sizeof(BITMAP)) {
    DeleteSection();
    return;
  }
  Create(bm.bmWidth, bm.bmHeight);
  if (m_pBits == NULL) return;

  BOOL bCopied = FALSE;
  {
    CDC dcSource;
    CDC dcSurface;
    dcSource.Attach(CreateCompatibleDC(NULL));
    dcSurface.Attach(CreateCompatibleDC(NULL));

    HGDIOBJ hOldSource = NULL;
    HGDIOBJ hOldSurface = NULL;
    if (dcSource.m_hDC != NULL && dcSurface.m_hDC != NULL) {
      hOldSource = SelectObject(dcSource.m_hDC, hSource);
      hOldSurface = SelectObject(dcSurface.m_hDC, m_hBitmap);
    }
    if (hOldSource != NULL && hOldSurface != NULL) {
      bCopied = BitBlt(dcSurface.m_hDC, 0, 0, bm.bmWidth, bm.bmHeight,
                       dcSource.m_hDC, 0, 0, SRCCOPY);
    }
    if (hOldSource != NULL) SelectObject(dcSource.m_hDC, hOldSource);
    if (hOldSurface != NULL) SelectObject(dcSurface.m_hDC, hOldSurface);

    dcSource.DeleteDC();
    dcSurface.DeleteDC();
  }  // the surface object, then the source object, both empty by now

  // A surface whose pixels were not all copied must not be read.
  if (!bCopied) DeleteSection();
}

void CDibSurface::DestroyDC() {
  if (m_pDC == NULL) return;
  if (m_hOldBitmap != NULL) SelectObject(m_pDC->m_hDC, m_hOldBitmap);
  m_pDC->DeleteDC();
  delete m_pDC;
  m_pDC = NULL;
}
