// Four pixels at a time: each becomes a 24-bit value, and four of those are
// stored as three 32-bit words, so no loop body writes single bytes.
#include <string.h>

#include "convert_rows.h"

namespace kplat {
namespace rows {
namespace {

inline void Store32(uint8_t *p, uint32_t v) { memcpy(p, &v, 4); }

// Pixels are blue | green << 8 | red << 16; the words are little-endian.
inline void StoreFour(uint8_t *d, uint32_t p0, uint32_t p1, uint32_t p2,
                      uint32_t p3) {
  Store32(d, p0 | p1 << 24);
  Store32(d + 4, p1 >> 8 | p2 << 16);
  Store32(d + 8, p2 >> 16 | p3 << 8);
}

inline void StoreOne(uint8_t *d, uint32_t p) {
  d[0] = uint8_t(p);
  d[1] = uint8_t(p >> 8);
  d[2] = uint8_t(p >> 16);
}

// Drives a pixel function over a row: blocks of four, then the rest.
template <typename Pixel>
inline void EachPixel(const Pixel &pixel, uint8_t *d, int w) {
  int x = 0;
  for (; x + 4 <= w; x += 4)
    StoreFour(d + 3 * x, pixel(x), pixel(x + 1), pixel(x + 2), pixel(x + 3));
  for (; x < w; ++x) StoreOne(d + 3 * x, pixel(x));
}

void RowPalette(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  const uint32_t *entry = c.entry;
  EachPixel([=](int x) { return entry[s[x]]; }, d, w);
}

// Red first, blue last: four pixels are three little-endian words, and
// the first and third byte of each pixel trade places across the words.
//   in:  r0 g0 b0 r1 | g1 b1 r2 g2 | b2 r3 g3 b3
//   out: b0 g0 r0 b1 | g1 r1 b2 g2 | r2 b3 g3 r3
void RowRgb24(const Bgr24Converter &, const uint8_t *s, uint8_t *d, int w) {
  int x = 0;
  for (; x + 4 <= w; x += 4) {
    const uint8_t *p = s + 3 * x;
    const uint32_t w0 = Load32(p), w1 = Load32(p + 4), w2 = Load32(p + 8);
    Store32(d + 3 * x, (w0 >> 16 & 0xFF) | (w0 & 0xFF00) | (w0 & 0xFF) << 16 |
                           (w1 & 0xFF00) << 16);
    Store32(d + 3 * x + 4, (w1 & 0xFF) | (w0 >> 16 & 0xFF00) |
                               (w2 & 0xFF) << 16 | (w1 & 0xFF000000));
    Store32(d + 3 * x + 8, (w1 >> 16 & 0xFF) | (w2 >> 16 & 0xFF00) |
                               (w2 & 0xFF0000) | (w2 & 0xFF00) << 16);
  }
  Bytes24Tail(s, d, x, w, 2, 1, 0);
}

void RowBytes24(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  const int ob = c.shift[0] / 8, og = c.shift[1] / 8, orr = c.shift[2] / 8;
  if (IsBgrOrder(c)) {
    memcpy(d, s, size_t(w) * 3);
    return;
  }
  EachPixel(
      [=](int x) {
        const uint8_t *p = s + 3 * x;
        return uint32_t(p[ob]) | uint32_t(p[og]) << 8 | uint32_t(p[orr]) << 16;
      },
      d, w);
}

// The usual 32-bit layout, blue in the lowest byte and red in the third:
// the pixel is its low 24 bits.
void RowXrgb32(const Bgr24Converter &, const uint8_t *s, uint8_t *d, int w) {
  EachPixel([=](int x) { return Load32(s + 4 * x) & 0xFFFFFF; }, d, w);
}

void RowShift32(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  const unsigned sb = c.shift[0], sg = c.shift[1], sr = c.shift[2];
  EachPixel(
      [=](int x) {
        const uint32_t v = Load32(s + 4 * x);
        return (v >> sb & 0xFF) | (v >> sg & 0xFF) << 8 |
               (v >> sr & 0xFF) << 16;
      },
      d, w);
}

template <int kBytes>
void RowTable(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  const unsigned sb = c.shift[0], sg = c.shift[1], sr = c.shift[2];
  const uint32_t mb = c.max[0], mg = c.max[1], mr = c.max[2];
  const uint8_t *tb = c.table[0], *tg = c.table[1], *tr = c.table[2];
  EachPixel(
      [=](int x) {
        const uint32_t v = kBytes == 2 ? Load16(s + 2 * x) : Load32(s + 4 * x);
        return uint32_t(tb[v >> sb & mb]) | uint32_t(tg[v >> sg & mg]) << 8 |
               uint32_t(tr[v >> sr & mr]) << 16;
      },
      d, w);
}

}  // namespace

RowFn BlockRow(const Bgr24Converter &c) {
  switch (c.path) {
    case Bgr24Converter::Path::kPalette:
      return RowPalette;
    case Bgr24Converter::Path::kBytes24:
      if (c.shift[0] == 16 && c.shift[1] == 8 && c.shift[2] == 0)
        return RowRgb24;
      return RowBytes24;
    case Bgr24Converter::Path::kShift32:
      if (IsBgrOrder(c)) return RowXrgb32;
      return RowShift32;
    case Bgr24Converter::Path::kTable16:
      return RowTable<2>;
    case Bgr24Converter::Path::kTable32:
      return RowTable<4>;
  }
  return nullptr;
}

}  // namespace rows
}  // namespace kplat
