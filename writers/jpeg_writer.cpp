#include "writers/jpeg_writer.h"

#include <jerror.h>

#include "capture/status_text.h"

void CaptureJpegErrorExit(j_common_ptr cinfo) {
  // Noted before the message is stored, which may change errno.
  const int nCode = cinfo->err->msg_code;
  _note_call_errno(nCode == JERR_OUT_OF_MEMORY ? ENOMEM
                   : nCode == JERR_FILE_WRITE  ? errno
                                               : EIO);
  (*cinfo->err->output_message)(cinfo);
  CaptureJpegErrorMgr *pMgr =
      reinterpret_cast<CaptureJpegErrorMgr *>(cinfo->err);
  longjmp(pMgr->m_jmpBuf, 1);
}

// Nothing in this frame outlives a jump but plain data: the stream is fixed
// before the recovery point, and the compression object is only reached
// through memory.
int WriteJpegFile(LPCWSTR lpszPath, const BYTE *pPixels, int nWidth,
                  int nHeight, int nQuality) {
  FILE *const pFile = _wfopen(lpszPath, TEXT("wb"));
  if (pFile == NULL) {
    _note_call_errno(errno);
    CaptureSetOpenFailMessage(lpszPath);
    return 0;
  }

  struct jpeg_compress_struct cinfo;
  CaptureJpegErrorMgr errMgr;
  cinfo.err = jpeg_std_error(&errMgr.m_errMgr);
  errMgr.m_errMgr.output_message = CaptureJpegOutputMessage;
  errMgr.m_errMgr.error_exit = CaptureJpegErrorExit;
  errMgr.m_errMgr.reset_error_mgr = CaptureJpegResetErrorMgr;

  if (setjmp(errMgr.m_jmpBuf)) {
    // libjpeg leaves even a half-created object fit for destruction.
    jpeg_destroy_compress(&cinfo);
    fclose(pFile);
    return 0;
  }

  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, pFile);

  // The colour space is set before the defaults, which depend on it.
  cinfo.image_width = static_cast<JDIMENSION>(nWidth);
  cinfo.image_height = static_cast<JDIMENSION>(nHeight);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  // TRUE caps every quantization value at 255, keeping the file baseline.
  jpeg_set_quality(&cinfo, nQuality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);

  const size_t nRowBytes = static_cast<size_t>(nWidth) * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    // libjpeg only reads the rows it is handed.
    JSAMPROW pRow =
        const_cast<JSAMPROW>(pPixels + cinfo.next_scanline * nRowBytes);
    jpeg_write_scanlines(&cinfo, &pRow, 1);
  }
  jpeg_finish_compress(&cinfo);

  // Bytes still in the stream's buffer reach the storage only now; a write
  // that fails here is the same full-medium error libjpeg would report.
  if (fclose(pFile) != 0) {
    _note_call_errno(errno);
    cinfo.err->msg_code = JERR_FILE_WRITE;
    (*cinfo.err->output_message)(reinterpret_cast<j_common_ptr>(&cinfo));
    jpeg_destroy_compress(&cinfo);
    return 0;
  }
  jpeg_destroy_compress(&cinfo);
  return 1;
}
