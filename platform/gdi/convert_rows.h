// Row routines behind ConvertToBgr24: the plain per-pixel loops, word-wide
// blocks that any compiler handles well, and SSSE3 shuffles for x86 CPUs
// that have them. All three give identical bytes for the same row.
#pragma once

#include <stdint.h>
#include <string.h>

#include "gdi/pixel_convert.h"

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

// Converts one row of w pixels from s to 3 * w bytes at d. Reads only the
// row's own pixels and writes only its 3 * w bytes.
using RowFn = void (*)(const Bgr24Converter &, const uint8_t *, uint8_t *, int);

// The routine of a kernel family for the converter's path, or NULL when the
// family has none for it (the caller then falls back to the plain one).
RowFn PlainRow(const Bgr24Converter &c);
RowFn BlockRow(const Bgr24Converter &c);
RowFn Ssse3Row(const Bgr24Converter &c);

// True when this CPU runs the SSSE3 routines.
bool HaveSsse3();

}  // namespace rows
}  // namespace kplat
