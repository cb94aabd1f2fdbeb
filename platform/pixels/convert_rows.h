// Row routines behind ConvertToBgr24: the plain per-pixel loops, word-wide
// blocks that any compiler handles well, SSSE3 shuffles for x86 CPUs and
// NEON for ARM CPUs that have them. All give identical bytes for the same
// row.
#pragma once

#include <stdint.h>
#include <string.h>

#include "pixel_convert.h"

namespace kplat {
namespace rows {

// Pixels are read without any alignment assumption.
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

// The vector routines scale a 5- or 6-bit channel as the tables do,
// (v * 255 + max / 2) / max, with the division done as a 16-bit
// multiply-high by mul and a right shift by post, exact over the whole
// range. False for widths the 16-bit formats do not have.
inline bool DivideBy(uint32_t max, int *mul, int *post) {
  if (max == 31) {  // exact for 0..31 * 255 + 15
    *mul = 8457;
    *post = 2;
    return true;
  }
  if (max == 63) {  // exact for 0..63 * 255 + 31
    *mul = 16645;
    *post = 4;
    return true;
  }
  return false;
}

// The pixels from x to w that the vector routines leave: 32 or 24 bits
// with channels in whole bytes (at byte places ob, og, orr), and 16 bits
// through the tables.
inline void Bytes32Tail(const uint8_t *s, uint8_t *d, int x, int w, int ob,
                        int og, int orr) {
  for (; x < w; ++x) {
    const uint8_t *p = s + 4 * x;
    d[3 * x] = p[ob];
    d[3 * x + 1] = p[og];
    d[3 * x + 2] = p[orr];
  }
}

inline void Bytes24Tail(const uint8_t *s, uint8_t *d, int x, int w, int ob,
                        int og, int orr) {
  for (; x < w; ++x) {
    const uint8_t *p = s + 3 * x;
    d[3 * x] = p[ob];
    d[3 * x + 1] = p[og];
    d[3 * x + 2] = p[orr];
  }
}

// True when the channels' bytes are already blue, green, red.
inline bool IsBgrOrder(const Bgr24Converter &c) {
  return c.shift[0] == 0 && c.shift[1] == 8 && c.shift[2] == 16;
}

inline void Table16Tail(const Bgr24Converter &c, const uint8_t *s, uint8_t *d,
                        int x, int w) {
  const uint8_t *tb = c.table[0], *tg = c.table[1], *tr = c.table[2];
  for (; x < w; ++x) {
    const uint32_t v = Load16(s + 2 * x);
    d[3 * x] = tb[v >> c.shift[0] & c.max[0]];
    d[3 * x + 1] = tg[v >> c.shift[1] & c.max[1]];
    d[3 * x + 2] = tr[v >> c.shift[2] & c.max[2]];
  }
}

// Converts one row of w pixels from s to 3 * w bytes at d. Reads only the
// row's own pixels and writes only its 3 * w bytes.
using RowFn = void (*)(const Bgr24Converter &, const uint8_t *, uint8_t *, int);

// The routine of a kernel family for the converter's path, or NULL when the
// family has none for it (the caller then falls back to the plain one).
RowFn PlainRow(const Bgr24Converter &c);
RowFn BlockRow(const Bgr24Converter &c);
RowFn Ssse3Row(const Bgr24Converter &c);
RowFn NeonRow(const Bgr24Converter &c);

// True when this CPU runs the SSSE3 or the NEON routines.
bool HaveSsse3();
bool HaveNeon();

}  // namespace rows
}  // namespace kplat
