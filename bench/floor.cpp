#include "floor.h"

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
// clang-format off
#include <jpeglib.h>  // needs stdio.h first
#include <png.h>
// clang-format on

namespace kbench {
namespace {

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

void JpegFail(j_common_ptr cinfo) {
  longjmp(reinterpret_cast<JpegError *>(cinfo->err)->jump, 1);
}

void PngWrite(png_structp png, png_bytep data, png_size_t n) {
  if (fwrite(data, 1, n, static_cast<FILE *>(png_get_io_ptr(png))) != n)
    png_error(png, "write");
}

void PngFlush(png_structp png) {
  fflush(static_cast<FILE *>(png_get_io_ptr(png)));
}

}  // namespace

bool FloorJpeg(const char *path, const uint8_t *rgb, int w, int h,
               int quality) {
  FILE *f = fopen(path, "wb");
  if (f == nullptr) return false;
  jpeg_compress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegFail;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    fclose(f);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = JDIMENSION(w);
  cinfo.image_height = JDIMENSION(h);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  for (int y = 0; y < h; ++y) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb + size_t(y) * w * 3);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return fclose(f) == 0;
}

bool FloorPng(const char *path, const uint8_t *bgr, int w, int h) {
  FILE *f = fopen(path, "wb");
  if (f == nullptr) return false;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  png_bytepp rows =
      static_cast<png_bytepp>(malloc(size_t(h) * sizeof(png_bytep)));
  if (info == nullptr || rows == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    free(rows);
    fclose(f);
    return false;
  }
  png_set_write_fn(png, f, PngWrite, PngFlush);
  png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  for (int y = 0; y < h; ++y)
    rows[y] = const_cast<png_bytep>(bgr + size_t(y) * w * 3);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  free(rows);
  return fclose(f) == 0;
}

}  // namespace kbench
