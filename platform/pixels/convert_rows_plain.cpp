// One pixel at a time: the reference the faster routines must match.
#include <string.h>

#include "convert_rows.h"

namespace kplat {
namespace rows {
namespace {

void RowPalette(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  for (int x = 0; x < w; ++x) {
    const uint8_t *e = c.palette[s[x]];
    d[3 * x] = e[0];
    d[3 * x + 1] = e[1];
    d[3 * x + 2] = e[2];
  }
}

void RowBytes24(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  if (IsBgrOrder(c)) {
    memcpy(d, s, size_t(w) * 3);
    return;
  }
  Bytes24Tail(s, d, 0, w, c.shift[0] / 8, c.shift[1] / 8, c.shift[2] / 8);
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

}  // namespace

RowFn PlainRow(const Bgr24Converter &c) {
  switch (c.path) {
    case Bgr24Converter::Path::kPalette:
      return RowPalette;
    case Bgr24Converter::Path::kBytes24:
      return RowBytes24;
    case Bgr24Converter::Path::kShift32:
      return RowShift32;
    case Bgr24Converter::Path::kTable16:
      return RowTable<2>;
    case Bgr24Converter::Path::kTable32:
      return RowTable<4>;
  }
  return RowShift32;
}

}  // namespace rows
}  // namespace kplat
