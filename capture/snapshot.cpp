// The library's one exported operation.
#include <kestrel/kestrel.h>
#include <windows.h>

#include "capture/packing.h"
#include "surface/dib_surface.h"
#include "surface/grab_screen.h"
#include "writers/jpeg_writer.h"
#include "writers/png_writer.h"

namespace {

// Everything between taking the path and destroying it: grab, surface,
// packing, writer, and the releases in their order (the packed buffer, the
// screen bitmap, then the surface as it goes out of scope).
int CaptureToFile(LPCWSTR lpszPath, int nQuality) {
  HBITMAP hScreen = GrabScreen();
  CDibSurface surface;
  if (hScreen == NULL) return 0;
  surface.CopyFrom(hScreen);

  int nResult = 0;
  BYTE *pPacked = NULL;
  const int nWidth = surface.m_nWidth;
  const int nHeight = surface.m_nHeight;
  const DWORD nPacked = PackedSize(nWidth, nHeight);
  if (surface.m_pBits != NULL && nPacked != 0) {
    pPacked = static_cast<BYTE *>(malloc(nPacked));
    if (pPacked == NULL) _note_call_errno(ENOMEM);
  }

  if (pPacked != NULL) {
    // The only place where the quality decides anything.
    if (nQuality < 1) {
      PackSurface(surface, pPacked, kPackBgr);
      nResult = WritePngFile(lpszPath, pPacked, nWidth, nHeight);
    } else {
      PackSurface(surface, pPacked, kPackRgb);
      nResult = WriteJpegFile(lpszPath, pPacked, nWidth, nHeight, nQuality);
    }
    free(pPacked);
  }
  DeleteObject(hScreen);
  return nResult;
}

int SnapShotOnce(const WCHAR *lpszPath, int nQuality) {
  // From here on only the private copy of the path is used.
  CString strPath(lpszPath);
  // A null path still runs the call (the JPEG writer reports the empty
  // path it could not open), but that is not why it fails.
  if (lpszPath == NULL) _note_call_errno(EINVAL);
  // A copy that got no memory is empty: writing to that path instead of
  // the caller's would fail under a name the caller never gave.
  if (strPath.IsEmpty() && lpszPath != NULL && lpszPath[0] != 0) {
    _note_call_errno(ENOMEM);
    return 0;
  }
  return CaptureToFile(strPath, nQuality);
}

// Set while a call runs. The status text and the PNG writer's handles belong
// to the call in progress, so one that finds another running (on another
// thread, or from a signal handler) fails at once: no waiting, nothing of
// the other call touched.
LONG volatile g_nBusy = 0;

}  // namespace

// errno is set once, on the way out: the first reason noted during the
// call, or EIO when a step failed without one. The call that finds another
// running leaves that call's reason alone.
extern "C" int SnapShot(const WCHAR *lpszPath, int nQuality) {
  if (InterlockedCompareExchange(&g_nBusy, 1, 0) != 0) {
    errno = EBUSY;
    return 0;
  }
  _clear_call_errno();
  const int nResult = SnapShotOnce(lpszPath, nQuality);
  const int nReason = _get_call_errno();
  InterlockedExchange(&g_nBusy, 0);
  if (nResult == 0) errno = nReason != 0 ? nReason : EIO;
  return nResult;
}
