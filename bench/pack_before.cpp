// The packing as the module did it before the platform's CopyPixels24
// took the work over: its own word-wide routines, and SSSE3 on x86 CPUs
// that have it. Kept for the benchmarks' comparison only.
#include "bench/pack_before.h"

#include <stdint.h>
#include <string.h>

#include "surface/dib_surface.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KESTREL_PACK_SSSE3 1
#endif

namespace {

// Fixed-size copies through memcpy compile to single loads and stores and
// make no assumption about alignment.
inline uint32_t Load32(const BYTE *p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

inline void Store32(BYTE *p, uint32_t v) { memcpy(p, &v, 4); }

// A row in the surface's own order is the same bytes in the same order:
// copied 16 bytes at a time, never past the row's last pixel.
void PackRowBgr(const BYTE *__restrict pSrc, BYTE *__restrict pDst,
                int nWidth) {
  const size_t nBytes = static_cast<size_t>(nWidth) * 3;
  size_t i = 0;
  for (; i + 16 <= nBytes; i += 16) {
    BYTE chunk[16];
    memcpy(chunk, pSrc + i, 16);
    memcpy(pDst + i, chunk, 16);
  }
  for (; i < nBytes; ++i) pDst[i] = pSrc[i];
}

// Four pixels are three little-endian words; the first and third byte of
// each pixel trade places across the word boundaries.
//   in:  b0 g0 r0 b1 | g1 r1 b2 g2 | r2 b3 g3 r3
//   out: r0 g0 b0 r1 | g1 b1 r2 g2 | b2 r3 g3 b3
void PackRowRgb(const BYTE *__restrict pSrc, BYTE *__restrict pDst,
                int nWidth) {
  int x = 0;
  for (; x + 4 <= nWidth; x += 4) {
    const BYTE *s = pSrc + 3 * x;
    BYTE *d = pDst + 3 * x;
    const uint32_t w0 = Load32(s), w1 = Load32(s + 4), w2 = Load32(s + 8);
    Store32(d, (w0 >> 16 & 0xFF) | (w0 & 0xFF00) | (w0 & 0xFF) << 16 |
                   (w1 & 0xFF00) << 16);
    Store32(d + 4, (w1 & 0xFF) | (w0 >> 16 & 0xFF00) | (w2 & 0xFF) << 16 |
                       (w1 & 0xFF000000));
    Store32(d + 8, (w1 >> 16 & 0xFF) | (w2 >> 16 & 0xFF00) | (w2 & 0xFF0000) |
                       (w2 & 0xFF00) << 16);
  }
  for (; x < nWidth; ++x) {
    pDst[3 * x] = pSrc[3 * x + 2];
    pDst[3 * x + 1] = pSrc[3 * x + 1];
    pDst[3 * x + 2] = pSrc[3 * x];
  }
}

#if KESTREL_PACK_SSSE3
// Five pixels per step on CPUs with SSSE3: one 16-byte load, one shuffle
// that swaps the first and third byte of each of the five, one 16-byte
// store. Its sixteenth byte is rewritten by the next step or by the tail,
// and no step reads or writes past the row's last pixel.
__attribute__((target("ssse3"))) void PackRowRgbSsse3(
    const BYTE *__restrict pSrc, BYTE *__restrict pDst, int nWidth) {
  const __m128i swap =
      _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  const size_t nBytes = static_cast<size_t>(nWidth) * 3;
  size_t i = 0;
  for (; i + 16 <= nBytes; i += 15) {
    const __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(pSrc + i));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(pDst + i),
                     _mm_shuffle_epi8(v, swap));
  }
  for (; i < nBytes; i += 3) {
    pDst[i] = pSrc[i + 2];
    pDst[i + 1] = pSrc[i + 1];
    pDst[i + 2] = pSrc[i];
  }
}

bool HaveSsse3() {
  static const bool bHave = __builtin_cpu_supports("ssse3");
  return bHave;
}
#endif

using PackRowFn = void (*)(const BYTE *__restrict, BYTE *__restrict, int);

PackRowFn ChoosePackRow(PackOrder order, bool portable) {
  if (order == kPackBgr) return PackRowBgr;
#if KESTREL_PACK_SSSE3
  if (!portable && HaveSsse3()) return PackRowRgbSsse3;
#else
  (void)portable;
#endif
  return PackRowRgb;
}

}  // namespace

void PackSurfaceBefore(const CDibSurface &surface, BYTE *pPacked,
                       PackOrder order, bool portable) {
  const int nWidth = surface.m_nWidth;
  const int nHeight = surface.m_nHeight;
  const size_t nSrcRow = static_cast<size_t>(surface.m_nStride) * 3;
  const size_t nDstRow = static_cast<size_t>(nWidth) * 3;
  const PackRowFn pfnRow = ChoosePackRow(order, portable);
  for (int y = 0; y < nHeight; ++y) {
    // The surface is bottom-up: the picture's row y is its row H - 1 - y.
    const BYTE *pSrc = surface.m_pBits + (nHeight - 1 - y) * nSrcRow;
    BYTE *pDst = pPacked + y * nDstRow;
    pfnRow(pSrc, pDst, nWidth);
  }
}
