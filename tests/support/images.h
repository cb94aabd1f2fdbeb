// Reading back what the library wrote, and making reference files, with the
// encoders' own libraries.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace ktest {

struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // top-down, red-green-blue, no padding
};

// Decodes an 8-bit RGB PNG; false (with nothing printed) when it is not one.
bool DecodePng(const std::string &path, Image *image);
// Decodes a JPEG to RGB.
bool DecodeJpeg(const std::string &path, Image *image);
// What libjpeg makes of rgb with the defaults and quality (baseline limit).
std::vector<uint8_t> EncodeJpegReference(const Image &image, int quality);

struct PngChunk {
  std::string type;
  std::vector<uint8_t> data;
  bool crcOk = false;
};
// Splits a PNG datastream after its signature; false when the signature or
// framing is wrong.
bool ParsePngChunks(const std::vector<uint8_t> &file,
                    std::vector<PngChunk> *chunks);

struct JpegSegment {
  uint8_t marker = 0;         // the byte after FF
  std::vector<uint8_t> data;  // without the length bytes
};
// The marker segments up to SOS (entropy-coded data is skipped), then EOI if
// the file ends with it.
bool ParseJpegSegments(const std::vector<uint8_t> &file,
                       std::vector<JpegSegment> *segments);

}  // namespace ktest
