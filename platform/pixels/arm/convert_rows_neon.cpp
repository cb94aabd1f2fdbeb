// Sixteen pixels at a time with NEON (Advanced SIMD), the same source for
// both ARM architectures. They differ in one thing only:
// - 32-bit ARM (armhf) does not promise NEON: this file alone is built with
//   -mfpu=neon (platform/pixels/CMakeLists.txt), and the routines are chosen
//   only when the kernel reports it (HWCAP_NEON, see cpu_features.cpp);
// - AArch64 (arm64) has Advanced SIMD in every processor: the compiler
//   needs no flag and nothing is asked at run time.
// Elsewhere there are none, and the word-wide routines serve.
#include "convert_rows.h"

#if defined(__ARM_NEON) && (defined(__arm__) || defined(__aarch64__))

#include <arm_neon.h>

namespace kplat {
namespace rows {
namespace {

// 32 bits with each channel in a whole byte: the four bytes of sixteen
// pixels come apart in one load and three of them go out in one store.
__attribute__((always_inline)) inline void Bytes32Steps(const uint8_t *s,
                                                        uint8_t *d, int w,
                                                        int ob, int og,
                                                        int orr) {
  int x = 0;
  for (; x + 16 <= w; x += 16) {
    const uint8x16x4_t v = vld4q_u8(s + 4 * x);
    uint8x16x3_t out;
    out.val[0] = v.val[ob];
    out.val[1] = v.val[og];
    out.val[2] = v.val[orr];
    vst3q_u8(d + 3 * x, out);
  }
  Bytes32Tail(s, d, x, w, ob, og, orr);
}

// The common layouts have their byte places fixed at compile time.
template <int B, int G, int R>
void RowBytes32Fixed(const Bgr24Converter &, const uint8_t *s, uint8_t *d,
                     int w) {
  Bytes32Steps(s, d, w, B, G, R);
}

void RowBytes32(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  Bytes32Steps(s, d, w, c.shift[0] / 8, c.shift[1] / 8, c.shift[2] / 8);
}

// 24 bits with the channels in any byte order.
void RowBytes24(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  const int ob = c.shift[0] / 8, og = c.shift[1] / 8, orr = c.shift[2] / 8;
  int x = 0;
  for (; x + 16 <= w; x += 16) {
    const uint8x16x3_t v = vld3q_u8(s + 3 * x);
    uint8x16x3_t out;
    out.val[0] = v.val[ob];
    out.val[1] = v.val[og];
    out.val[2] = v.val[orr];
    vst3q_u8(d + 3 * x, out);
  }
  Bytes24Tail(s, d, x, w, ob, og, orr);
}

// One channel of eight 16-bit pixels scaled to 0..255 as the tables do it
// (see DivideBy).
struct Scale16 {
  int16x8_t shift, post;  // negative: right shifts
  uint16x8_t max, half;
  uint16x4_t mul;
};

inline uint8x8_t ScaleChannel(uint16x8_t v, const Scale16 &k) {
  uint16x8_t c = vandq_u16(vshlq_u16(v, k.shift), k.max);
  c = vmlaq_n_u16(k.half, c, 255);
  const uint16x8_t hi =
      vcombine_u16(vshrn_n_u32(vmull_u16(vget_low_u16(c), k.mul), 16),
                   vshrn_n_u32(vmull_u16(vget_high_u16(c), k.mul), 16));
  return vmovn_u16(vshlq_u16(hi, k.post));
}

void RowTable16(const Bgr24Converter &c, const uint8_t *s, uint8_t *d, int w) {
  Scale16 k[3];
  for (int i = 0; i < 3; ++i) {
    int mul = 0, post = 0;
    DivideBy(c.max[i], &mul, &post);  // checked when the routine was chosen
    k[i].shift = vdupq_n_s16(int16_t(-int(c.shift[i])));
    k[i].post = vdupq_n_s16(int16_t(-post));
    k[i].max = vdupq_n_u16(uint16_t(c.max[i]));
    k[i].half = vdupq_n_u16(uint16_t(c.max[i] / 2));
    k[i].mul = vdup_n_u16(uint16_t(mul));
  }
  int x = 0;
  for (; x + 16 <= w; x += 16) {
    // Byte loads: the row need not be 2-byte aligned.
    const uint16x8_t lo = vreinterpretq_u16_u8(vld1q_u8(s + 2 * x));
    const uint16x8_t hi = vreinterpretq_u16_u8(vld1q_u8(s + 2 * x + 16));
    uint8x16x3_t out;
    for (int i = 0; i < 3; ++i)
      out.val[i] = vcombine_u8(ScaleChannel(lo, k[i]), ScaleChannel(hi, k[i]));
    vst3q_u8(d + 3 * x, out);
  }
  Table16Tail(c, s, d, x, w);
}

}  // namespace

RowFn NeonRow(const Bgr24Converter &c) {
  int mul, post;
  switch (c.path) {
    case Bgr24Converter::Path::kShift32: {
      if (!c.byteAligned) return nullptr;
      const int ob = c.shift[0] / 8, og = c.shift[1] / 8, orr = c.shift[2] / 8;
      if (ob == 0 && og == 1 && orr == 2) return RowBytes32Fixed<0, 1, 2>;
      if (ob == 2 && og == 1 && orr == 0) return RowBytes32Fixed<2, 1, 0>;
      return RowBytes32;
    }
    case Bgr24Converter::Path::kBytes24:  // the same order is a memcpy
      return IsBgrOrder(c) ? nullptr : RowBytes24;
    case Bgr24Converter::Path::kTable16:
      for (int i = 0; i < 3; ++i)
        if (!DivideBy(c.max[i], &mul, &post)) return nullptr;
      return RowTable16;
    default:
      return nullptr;
  }
}

}  // namespace rows
}  // namespace kplat

#else

namespace kplat {
namespace rows {

RowFn NeonRow(const Bgr24Converter &) { return nullptr; }

}  // namespace rows
}  // namespace kplat

#endif
