#include "gdi/pixel_convert.h"

#include <string.h>

namespace kplat {
namespace {

// Wider and narrower channels scale to 0..255 with rounding, so the largest
// value of any width maps to 255 and 8-bit channels pass unchanged.
void FillTable(uint32_t max, uint8_t *table) {
  for (uint32_t v = 0; v <= max; ++v)
    table[v] = uint8_t((v * 255 + max / 2) / max);
}

inline uint32_t Load16(const uint8_t *p) {
  uint16_t v;
  memcpy(&v, p, 2);
  return v;
}

inline uint32_t Load32(const uint8_t *p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

void RowPalette(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  for (int x = 0; x < w; ++x) {
    const uint8_t *e = c.palette[s[x]];
    d[3 * x] = e[0];
    d[3 * x + 1] = e[1];
    d[3 * x + 2] = e[2];
  }
}

void RowBytes24(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  const int ob = c.shift[0] / 8, og = c.shift[1] / 8, orr = c.shift[2] / 8;
  if (ob == 0 && og == 1 && orr == 2) {
    memcpy(d, s, size_t(w) * 3);
    return;
  }
  for (int x = 0; x < w; ++x) {
    d[3 * x] = s[3 * x + ob];
    d[3 * x + 1] = s[3 * x + og];
    d[3 * x + 2] = s[3 * x + orr];
  }
}

void RowShift32(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  const unsigned sb = c.shift[0], sg = c.shift[1], sr = c.shift[2];
  for (int x = 0; x < w; ++x) {
    const uint32_t v = Load32(s + 4 * x);
    d[3 * x] = uint8_t(v >> sb);
    d[3 * x + 1] = uint8_t(v >> sg);
    d[3 * x + 2] = uint8_t(v >> sr);
  }
}

template <int kBytes>
void RowTable(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  const unsigned sb = c.shift[0], sg = c.shift[1], sr = c.shift[2];
  const uint32_t mb = c.max[0], mg = c.max[1], mr = c.max[2];
  const uint8_t *tb = c.table[0], *tg = c.table[1], *tr = c.table[2];
  for (int x = 0; x < w; ++x) {
    const uint32_t v = kBytes == 2 ? Load16(s + 2 * x) : Load32(s + 4 * x);
    d[3 * x] = tb[(v >> sb) & mb];
    d[3 * x + 1] = tg[(v >> sg) & mg];
    d[3 * x + 2] = tr[(v >> sr) & mr];
  }
}

using RowFn = void (*)(const Bgr24Converter &, const uint8_t *, uint8_t *, int);

// The row routine is a template argument, so it is called directly and
// inlines into the loop.
template <RowFn kRow>
void EachRow(const Bgr24Converter &c, const uint8_t *src, ptrdiff_t srcStride,
             uint8_t *dst, ptrdiff_t dstStride, int w, int h) {
  for (int y = 0; y < h; ++y)
    kRow(c, src + y * srcStride, dst + y * dstStride, w);
}

}  // namespace

bool PrepareBgr24Converter(const PixelFormat &f, Bgr24Converter *c) {
  if (!IsSupportedFormat(f)) return false;
  if (f.IsPalettised()) {
    c->path = Bgr24Converter::Path::kPalette;
    for (int i = 0; i < 256; ++i) {
      c->palette[i][0] = f.palette[i].rgbBlue;
      c->palette[i][1] = f.palette[i].rgbGreen;
      c->palette[i][2] = f.palette[i].rgbRed;
    }
    return true;
  }
  const uint32_t masks[3] = {f.blueMask, f.greenMask, f.redMask};
  bool allEight = true;
  for (int i = 0; i < 3; ++i) {
    c->shift[i] = uint8_t(__builtin_ctz(masks[i]));
    c->max[i] = masks[i] >> c->shift[i];
    FillTable(c->max[i], c->table[i]);
    allEight = allEight && c->max[i] == 0xFF;
  }
  switch (f.bitsPerPixel) {
    case 16:
      c->path = Bgr24Converter::Path::kTable16;
      break;
    case 24:
      c->path = Bgr24Converter::Path::kBytes24;
      break;
    default:
      c->path = allEight ? Bgr24Converter::Path::kShift32
                         : Bgr24Converter::Path::kTable32;
      break;
  }
  return true;
}

void ConvertToBgr24(const Bgr24Converter &c, const uint8_t *src,
                    ptrdiff_t srcStride, uint8_t *dst, ptrdiff_t dstStride,
                    int width, int height) {
  if (width <= 0 || height <= 0) return;
  switch (c.path) {
    case Bgr24Converter::Path::kPalette:
      EachRow<RowPalette>(c, src, srcStride, dst, dstStride, width, height);
      break;
    case Bgr24Converter::Path::kBytes24:
      EachRow<RowBytes24>(c, src, srcStride, dst, dstStride, width, height);
      break;
    case Bgr24Converter::Path::kShift32:
      EachRow<RowShift32>(c, src, srcStride, dst, dstStride, width, height);
      break;
    case Bgr24Converter::Path::kTable16:
      EachRow<RowTable<2>>(c, src, srcStride, dst, dstStride, width, height);
      break;
    case Bgr24Converter::Path::kTable32:
      EachRow<RowTable<4>>(c, src, srcStride, dst, dstStride, width, height);
      break;
  }
}

}  // namespace kplat
