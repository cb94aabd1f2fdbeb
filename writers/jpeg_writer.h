// Baseline JPEG (JFIF) output through libjpeg.
#pragma once

#include <windows.h>
// libjpeg's header needs FILE and size_t first.
#include <jpeglib.h>

// libjpeg's error manager followed by the recovery point of one write.
// The manager comes first, so the address libjpeg holds in cinfo->err is the
// whole record's.
struct CaptureJpegErrorMgr {
  struct jpeg_error_mgr m_errMgr;
  jmp_buf m_jmpBuf;
};

// error_exit of the manager: stores the message, then jumps to the write's
// recovery point. Never returns.
void CaptureJpegErrorExit(j_common_ptr cinfo);

// Writes nWidth x nHeight pixels (top-down rows of red, green, blue bytes,
// back to back) as a JPEG file at nQuality. Returns 1 when the file was
// written and closed, 0 otherwise; the status text says why.
int WriteJpegFile(LPCWSTR lpszPath, const BYTE *pPixels, int nWidth,
                  int nHeight, int nQuality);
