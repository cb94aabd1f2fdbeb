// Sixteen pixels at a time with SSSE3 byte shuffles, for x86 CPUs that have
// them (checked at run time). Elsewhere there are none, and the word-wide
// routines serve.
#include "gdi/convert_rows.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define KPLAT_SSSE3 __attribute__((target("ssse3")))

namespace kplat {
namespace rows {
namespace {

// A shuffle that keeps bytes b, g, r of each 32-bit lane and packs the four
// triples into the low 12 bytes (the top four become 0).
KPLAT_SSSE3 __m128i TripleShuffle(int b, int g, int r) {
  alignas(16) int8_t m[16];
  for (int i = 0; i < 4; ++i) {
    m[3 * i] = int8_t(4 * i + b);
    m[3 * i + 1] = int8_t(4 * i + g);
    m[3 * i + 2] = int8_t(4 * i + r);
  }
  for (int i = 12; i < 16; ++i) m[i] = int8_t(0x80);
  return _mm_load_si128(reinterpret_cast<const __m128i *>(m));
}

// Four registers of four 32-bit pixels each, compacted to 12 bytes by
// shuffle, become 48 bytes of output.
KPLAT_SSSE3 inline void StoreSixteen(uint8_t *d, __m128i shuffle, __m128i a,
                                     __m128i b, __m128i c, __m128i e) {
  a = _mm_shuffle_epi8(a, shuffle);
  b = _mm_shuffle_epi8(b, shuffle);
  c = _mm_shuffle_epi8(c, shuffle);
  e = _mm_shuffle_epi8(e, shuffle);
  __m128i *out = reinterpret_cast<__m128i *>(d);
  _mm_storeu_si128(out, _mm_or_si128(a, _mm_slli_si128(b, 12)));
  _mm_storeu_si128(out + 1,
                   _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
  _mm_storeu_si128(out + 2,
                   _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(e, 4)));
}

inline __m128i Load(const uint8_t *p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// 32 bits with each channel in a whole byte.
KPLAT_SSSE3 void RowBytes32(const Bgr24Converter &c, const uint8_t *s,
                            uint8_t *d, int w) {
  const int ob = c.shift[0] / 8, og = c.shift[1] / 8, orr = c.shift[2] / 8;
  const __m128i shuffle = TripleShuffle(ob, og, orr);
  int x = 0;
  for (; x + 16 <= w; x += 16) {
    const uint8_t *p = s + 4 * x;
    StoreSixteen(d + 3 * x, shuffle, Load(p), Load(p + 16), Load(p + 32),
                 Load(p + 48));
  }
  Bytes32Tail(s, d, x, w, ob, og, orr);
}

// 24 bits with the channels in any byte order: five pixels per step, one
// 16-byte load, one shuffle, one 16-byte store. The sixteenth byte is
// rewritten by the next step or by the tail, and no step reads or writes
// past the row's last pixel.
KPLAT_SSSE3 inline void Bytes24Steps(__m128i shuffle,
                                     const uint8_t *__restrict s,
                                     uint8_t *__restrict d, int w, int ob,
                                     int og, int orr) {
  const size_t bytes = size_t(w) * 3;
  size_t i = 0;
  for (; i + 16 <= bytes; i += 15)
    _mm_storeu_si128(reinterpret_cast<__m128i *>(d + i),
                     _mm_shuffle_epi8(Load(s + i), shuffle));
  Bytes24Tail(s, d, int(i / 3), w, ob, og, orr);
}

// Red first and blue last (what the packing for JPEG asks): the shuffle is
// a constant.
KPLAT_SSSE3 void RowRgb24(const Bgr24Converter &, const uint8_t *s, uint8_t *d,
                          int w) {
  const __m128i swap =
      _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  Bytes24Steps(swap, s, d, w, 2, 1, 0);
}

KPLAT_SSSE3 void RowBytes24(const Bgr24Converter &c, const uint8_t *s,
                            uint8_t *d, int w) {
  const int ob = c.shift[0] / 8, og = c.shift[1] / 8, orr = c.shift[2] / 8;
  alignas(16) int8_t m[16];
  for (int i = 0; i < 5; ++i) {
    m[3 * i] = int8_t(3 * i + ob);
    m[3 * i + 1] = int8_t(3 * i + og);
    m[3 * i + 2] = int8_t(3 * i + orr);
  }
  m[15] = 15;
  Bytes24Steps(_mm_load_si128(reinterpret_cast<const __m128i *>(m)), s, d, w,
               ob, og, orr);
}

// One 16-bit channel of eight pixels scaled to 0..255 as the tables do it
// (see DivideBy).
struct Scale16 {
  __m128i count, max, half, mul, post;
};

KPLAT_SSSE3 inline __m128i ScaleChannel(__m128i v, const Scale16 &k) {
  __m128i c = _mm_and_si128(_mm_srl_epi16(v, k.count), k.max);
  c = _mm_add_epi16(_mm_mullo_epi16(c, _mm_set1_epi16(255)), k.half);
  return _mm_srl_epi16(_mm_mulhi_epu16(c, k.mul), k.post);
}

KPLAT_SSSE3 void RowTable16(const Bgr24Converter &c, const uint8_t *s,
                            uint8_t *d, int w) {
  Scale16 k[3];
  for (int i = 0; i < 3; ++i) {
    int mul = 0, post = 0;
    DivideBy(c.max[i], &mul, &post);  // checked when the routine was chosen
    k[i].count = _mm_cvtsi32_si128(c.shift[i]);
    k[i].max = _mm_set1_epi16(int16_t(c.max[i]));
    k[i].half = _mm_set1_epi16(int16_t(c.max[i] / 2));
    k[i].mul = _mm_set1_epi16(int16_t(mul));
    k[i].post = _mm_cvtsi32_si128(post);
  }
  const __m128i shuffle = TripleShuffle(0, 1, 2);
  int x = 0;
  for (; x + 16 <= w; x += 16) {
    __m128i out[4];
    for (int half = 0; half < 2; ++half) {
      const __m128i v = Load(s + 2 * x + 16 * half);
      const __m128i b = ScaleChannel(v, k[0]);
      const __m128i g = ScaleChannel(v, k[1]);
      const __m128i r = ScaleChannel(v, k[2]);
      const __m128i bg = _mm_or_si128(b, _mm_slli_epi16(g, 8));
      out[2 * half] = _mm_unpacklo_epi16(bg, r);
      out[2 * half + 1] = _mm_unpackhi_epi16(bg, r);
    }
    StoreSixteen(d + 3 * x, shuffle, out[0], out[1], out[2], out[3]);
  }
  Table16Tail(c, s, d, x, w);
}

}  // namespace

RowFn Ssse3Row(const Bgr24Converter &c) {
  int mul, post;
  switch (c.path) {
    case Bgr24Converter::Path::kShift32:
      return c.byteAligned ? RowBytes32 : nullptr;
    case Bgr24Converter::Path::kBytes24:  // the same order is a memcpy
      if (IsBgrOrder(c)) return nullptr;
      return c.shift[0] == 16 && c.shift[2] == 0 ? RowRgb24 : RowBytes24;
    case Bgr24Converter::Path::kTable16:
      for (int i = 0; i < 3; ++i)
        if (!DivideBy(c.max[i], &mul, &post)) return nullptr;
      return RowTable16;
    default:
      return nullptr;
  }
}

// A read of what the CPU was found to have at start: nothing to keep.
bool HaveSsse3() { return __builtin_cpu_supports("ssse3"); }

}  // namespace rows
}  // namespace kplat

#else

namespace kplat {
namespace rows {

RowFn Ssse3Row(const Bgr24Converter &) { return nullptr; }
bool HaveSsse3() { return false; }

}  // namespace rows
}  // namespace kplat

#endif
