#include "images.h"

#include <jpeglib.h>
#include <png.h>
#include <setjmp.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

namespace ktest {
namespace {

void PngSilentError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngSilentWarning(png_structp, png_const_charp) {}

struct JpegQuietErr {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
void JpegQuietExit(j_common_ptr cinfo) {
  longjmp(reinterpret_cast<JpegQuietErr *>(cinfo->err)->jump, 1);
}
void JpegQuietOutput(j_common_ptr) {}

uint32_t Be32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 |
         p[3];
}

}  // namespace

bool DecodePng(const std::string &path, Image *image) {
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                           PngSilentError, PngSilentWarning);
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  if (png_get_bit_depth(png, info) != 8 ||
      png_get_color_type(png, info) != PNG_COLOR_TYPE_RGB)
    png_error(png, "not 8-bit RGB");
  image->width = int(png_get_image_width(png, info));
  image->height = int(png_get_image_height(png, info));
  image->rgb.assign(size_t(image->width) * image->height * 3, 0);
  rows.resize(size_t(image->height));
  for (int y = 0; y < image->height; ++y)
    rows[y] = image->rgb.data() + size_t(y) * image->width * 3;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  fclose(f);
  return true;
}

bool DecodeJpeg(const std::string &path, Image *image) {
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  jpeg_decompress_struct cinfo;
  JpegQuietErr err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegQuietExit;
  err.mgr.output_message = JpegQuietOutput;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    fclose(f);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  image->width = int(cinfo.output_width);
  image->height = int(cinfo.output_height);
  image->rgb.assign(size_t(image->width) * image->height * 3, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row =
        image->rgb.data() + size_t(cinfo.output_scanline) * image->width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  fclose(f);
  return true;
}

std::vector<uint8_t> EncodeJpegReference(const Image &image, int quality) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char *out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = JDIMENSION(image.width);
  cinfo.image_height = JDIMENSION(image.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(
        image.rgb.data() + size_t(cinfo.next_scanline) * image.width * 3);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> bytes(out, out + size);
  jpeg_destroy_compress(&cinfo);
  free(out);
  return bytes;
}

bool ParsePngChunks(const std::vector<uint8_t> &file,
                    std::vector<PngChunk> *chunks) {
  static const uint8_t kSig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  if (file.size() < 8 || memcmp(file.data(), kSig, 8) != 0) return false;
  size_t pos = 8;
  chunks->clear();
  while (pos < file.size()) {
    if (file.size() - pos < 12) return false;
    const uint32_t len = Be32(&file[pos]);
    if (file.size() - pos - 12 < len) return false;
    PngChunk c;
    c.type.assign(reinterpret_cast<const char *>(&file[pos + 4]), 4);
    c.data.assign(file.begin() + long(pos + 8),
                  file.begin() + long(pos + 8 + len));
    const uint32_t crc = uint32_t(crc32(0, &file[pos + 4], 4 + len));
    c.crcOk = crc == Be32(&file[pos + 8 + len]);
    chunks->push_back(c);
    pos += 12 + len;
  }
  return true;
}

bool ParseJpegSegments(const std::vector<uint8_t> &file,
                       std::vector<JpegSegment> *segs) {
  segs->clear();
  if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return false;
  size_t pos = 2;
  while (pos + 4 <= file.size()) {
    if (file[pos] != 0xFF) return false;
    JpegSegment s;
    s.marker = file[pos + 1];
    const size_t len = size_t(file[pos + 2]) << 8 | file[pos + 3];
    if (len < 2 || pos + 2 + len > file.size()) return false;
    s.data.assign(file.begin() + long(pos + 4),
                  file.begin() + long(pos + 2 + len));
    segs->push_back(s);
    pos += 2 + len;
    if (s.marker == 0xDA) break;  // SOS: entropy-coded data follows
  }
  if (file.size() >= 2 && file[file.size() - 2] == 0xFF &&
      file.back() == 0xD9) {
    JpegSegment eoi;
    eoi.marker = 0xD9;
    segs->push_back(eoi);
  }
  return true;
}

}  // namespace ktest
