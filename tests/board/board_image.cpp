#include "board_image.h"

#include <stdio.h>

extern "C" {
#include "pattern.h"
}

namespace kboard {

bool ParseBits(const char *text, Bits *bits) {
  for (int c = 0; c < 3; ++c) {
    if (text[c] < '1' || text[c] > '8') return false;
    bits->width[c] = text[c] - '0';
  }
  return text[3] == '\0';
}

namespace {

// The next header number of a PPM, skipping blanks and comments.
bool PpmNumber(FILE *f, int *value) {
  int c = fgetc(f);
  for (;;) {
    if (c == '#') {
      while (c != EOF && c != '\n') c = fgetc(f);
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      c = fgetc(f);
    } else {
      break;
    }
  }
  if (c < '0' || c > '9') return false;
  long v = 0;
  while (c >= '0' && c <= '9' && v < 100000) {
    v = v * 10 + (c - '0');
    c = fgetc(f);
  }
  *value = int(v);
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';  // one blank ends it
}

}  // namespace

bool ReadPpm(const std::string &path, ktest::Image *image) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return false;
  int w = 0, h = 0, max = 0;
  bool ok = fgetc(f) == 'P' && fgetc(f) == '6' && PpmNumber(f, &w) &&
            PpmNumber(f, &h) && PpmNumber(f, &max) && max == 255 && w > 0 &&
            h > 0 && w <= 16384 && h <= 16384;
  if (ok) {
    image->width = w;
    image->height = h;
    image->rgb.resize(size_t(w) * size_t(h) * 3);
    ok = fread(image->rgb.data(), 1, image->rgb.size(), f) == image->rgb.size();
  }
  fclose(f);
  return ok;
}

ktest::Image Levels(const ktest::Image &bytes, const Bits &bits) {
  ktest::Image out = bytes;
  for (size_t i = 0; i < out.rgb.size(); ++i)
    out.rgb[i] = uint8_t(out.rgb[i] >> (8 - bits.width[i % 3]));
  return out;
}

ktest::Image Widen(const ktest::Image &levels, const Bits &bits) {
  ktest::Image out = levels;
  for (size_t i = 0; i < out.rgb.size(); ++i) {
    const unsigned max = (1u << bits.width[i % 3]) - 1;
    out.rgb[i] = uint8_t((out.rgb[i] * 255u + max / 2) / max);
  }
  return out;
}

void PatternLevels(int w, int h, const Bits &bits, ktest::Image *out) {
  out->width = w;
  out->height = h;
  out->rgb.resize(size_t(w) * size_t(h) * 3);
  uint8_t *p = out->rgb.data();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x, p += 3) {
      uint8_t rgb[3];
      BoardPattern(x, y, w, h, rgb);
      for (int c = 0; c < 3; ++c)
        p[c] = uint8_t(BoardQuantize(rgb[c], unsigned(bits.width[c])));
    }
}

Mismatch Compare(const ktest::Image &got, const ktest::Image &want) {
  Mismatch m;
  char line[200];
  if (got.width != want.width || got.height != want.height) {
    snprintf(line, sizeof line, "%dx%d, expected %dx%d", got.width, got.height,
             want.width, want.height);
    m.found = true;
    m.text = line;
    return m;
  }
  size_t first = 0, count = 0;
  for (size_t i = 0; i < got.rgb.size(); i += 3)
    if (got.rgb[i] != want.rgb[i] || got.rgb[i + 1] != want.rgb[i + 1] ||
        got.rgb[i + 2] != want.rgb[i + 2]) {
      if (count++ == 0) first = i;
    }
  if (count == 0) return m;
  const size_t px = first / 3;
  snprintf(line, sizeof line,
           "%zu pixels differ; first at %zu,%zu: %u,%u,%u, expected %u,%u,%u",
           count, px % size_t(got.width), px / size_t(got.width),
           got.rgb[first], got.rgb[first + 1], got.rgb[first + 2],
           want.rgb[first], want.rgb[first + 1], want.rgb[first + 2]);
  m.found = true;
  m.text = line;
  return m;
}

}  // namespace kboard
