#include "writers/png_writer.h"

FILE *g_pPngFile = NULL;
png_structp g_pPng = NULL;
png_infop g_pPngInfo = NULL;
png_bytepp g_ppPngRows = NULL;

void CapturePngWriteData(png_structp png, png_bytep data, png_size_t length) {
  FILE *pFile = static_cast<FILE *>(png_get_io_ptr(png));
  if (fwrite(data, 1, length, pFile) != length) {
    _note_call_errno(errno);
    png_error(png, "Write Error");
  }
}

void CapturePngFlush(png_structp png) {
  FILE *pFile = static_cast<FILE *>(png_get_io_ptr(png));
  if (pFile != NULL) fflush(pFile);
}

void CapturePngError(png_structp png, png_const_charp message) {
  // libpng and zlib say "Out of memory", "insufficient memory", ...; a
  // failed write was noted before libpng got here.
  _note_call_errno(strstr(message, "emory") != NULL ? ENOMEM : EIO);
  // Returning would hand the message to libpng's default handler, which
  // prints it; jump to the recovery point directly instead.
  png_longjmp(png, 1);
}

void CapturePngWarning(png_structp, png_const_charp) {}

namespace {

// Releases what a failed write holds, through the module-wide variables
// (no local of WritePngFile survives the jump).
int FailPngWrite() {
  if (g_ppPngRows != NULL) {
    free(g_ppPngRows);
    g_ppPngRows = NULL;
  }
  png_destroy_write_struct(&g_pPng, &g_pPngInfo);
  fclose(g_pPngFile);
  return 0;
}

}  // namespace

int WritePngFile(LPCWSTR lpszPath, const BYTE *pPixels, int nWidth,
                 int nHeight) {
  g_pPngFile = _wfopen(lpszPath, TEXT("wb"));
  if (g_pPngFile == NULL) {
    _note_call_errno(errno);
    return 0;
  }

  g_pPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, CapturePngError,
                                   CapturePngWarning);
  if (g_pPng == NULL) {
    _note_call_errno(ENOMEM);
    fclose(g_pPngFile);
    return 0;
  }
  g_pPngInfo = png_create_info_struct(g_pPng);
  if (g_pPngInfo == NULL) {
    _note_call_errno(ENOMEM);
    fclose(g_pPngFile);
    png_destroy_write_struct(&g_pPng, NULL);
    return 0;
  }

  if (setjmp(png_jmpbuf(g_pPng))) return FailPngWrite();

  png_set_write_fn(g_pPng, g_pPngFile, CapturePngWriteData, CapturePngFlush);
  png_set_IHDR(g_pPng, g_pPngInfo, static_cast<png_uint_32>(nWidth),
               static_cast<png_uint_32>(nHeight), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(g_pPng, g_pPngInfo);
  png_set_bgr(g_pPng);

  g_ppPngRows = static_cast<png_bytepp>(
      malloc(static_cast<size_t>(nHeight) * sizeof(png_bytep)));
  if (g_ppPngRows == NULL) {
    _note_call_errno(ENOMEM);
    png_destroy_write_struct(&g_pPng, &g_pPngInfo);
    fclose(g_pPngFile);
    return 0;
  }
  const size_t nRowBytes = static_cast<size_t>(nWidth) * 3;
  for (int i = 0; i < nHeight; ++i)
    g_ppPngRows[i] = const_cast<png_bytep>(pPixels + i * nRowBytes);

  png_write_image(g_pPng, g_ppPngRows);
  png_write_end(g_pPng, g_pPngInfo);

  free(g_ppPngRows);
  g_ppPngRows = NULL;
  png_destroy_write_struct(&g_pPng, &g_pPngInfo);

  // A small image sits in the stream's buffer until the close; bytes that
  // fail to reach the storage there make the write a failure.
  if (fclose(g_pPngFile) != 0) {
    _note_call_errno(errno);
    return 0;
  }
  return 1;
}
