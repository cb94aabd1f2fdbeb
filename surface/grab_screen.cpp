#include "surface/grab_screen.h"

HBITMAP GrabScreen() {
  HDC hdcScreen = GetDC(NULL);
  if (hdcScreen == NULL) {
    _note_call_errno(ENODEV);
    return NULL;
  }

  HBITMAP hBitmap = NULL;
  BOOL bCopied = FALSE;
  HDC hdcMem = CreateCompatibleDC(hdcScreen);
  if (hdcMem != NULL) {
    // Asked afresh in every call: the resolution may have changed.
    const int nHeight = GetDeviceCaps(hdcScreen, VERTRES);
    const int nWidth = GetDeviceCaps(hdcScreen, HORZRES);
    if (nWidth > 0 && nHeight > 0) {
      hBitmap = CreateCompatibleBitmap(hdcScreen, nWidth, nHeight);
      if (hBitmap == NULL) _note_call_errno(ENOMEM);
    }
    if (hBitmap != NULL) {
      HGDIOBJ hOld = SelectObject(hdcMem, hBitmap);
      if (hOld != NULL) {
        bCopied =
            BitBlt(hdcMem, 0, 0, nWidth, nHeight, hdcScreen, 0, 0, SRCCOPY);
        SelectObject(hdcMem, hOld);
      }
    }
    DeleteDC(hdcMem);
  } else {
    _note_call_errno(ENOMEM);
  }
  ReleaseDC(NULL, hdcScreen);

  if (!bCopied && hBitmap != NULL) {
    DeleteObject(hBitmap);
    hBitmap = NULL;
  }
  return hBitmap;
}
