// PNG output (8-bit truecolour, not interlaced) through libpng.
#pragma once

#include <png.h>
#include <windows.h>

// The writer's working objects, module-wide: one write at a time.
extern FILE *g_pPngFile;
extern png_structp g_pPng;
extern png_infop g_pPngInfo;
extern png_bytepp g_ppPngRows;

void CapturePngWriteData(png_structp png, png_bytep data, png_size_t length);
void CapturePngFlush(png_structp png);
// Discards the message and jumps to the write's recovery point.
void CapturePngError(png_structp png, png_const_charp message);
// Discards the message; the write goes on.
void CapturePngWarning(png_structp png, png_const_charp message);

// Writes nWidth x nHeight pixels (top-down rows of blue, green, red bytes,
// back to back) as a PNG file. Returns 1 when the file was written and
// closed, 0 otherwise. The status text is never touched.
int WritePngFile(LPCWSTR lpszPath, const BYTE *pPixels, int nWidth,
                 int nHeight);
