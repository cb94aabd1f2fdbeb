// Conversions into the 24-bit surface and the packing, in bytes written per
// second, beside memcpy of the same number of bytes between buffers of the
// same size. Sizes are whole screens, so the data is what one call moves.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "bench/pack_before.h"
#include "capture/packing.h"
#include "convert_rows.h"
#include "pixel_convert.h"
#include "surface/dib_surface.h"

namespace {

struct Screen {
  int w, h;
};
const Screen kScreens[] = {{1920, 1080}, {3840, 2160}, {240, 320}};

std::vector<uint8_t> Noise(size_t n) {
  std::vector<uint8_t> v(n);
  uint32_t x = 12345;
  for (auto &b : v) {
    x = x * 1664525 + 1013904223;
    b = uint8_t(x >> 24);
  }
  return v;
}

void Args(benchmark::internal::Benchmark *b) {
  for (const Screen &s : kScreens) b->Args({s.w, s.h});
}

void BM_Memcpy(benchmark::State &state) {
  const size_t n = size_t(state.range(0)) * state.range(1) * 3;
  std::vector<uint8_t> src = Noise(n), dst(n);
  for (auto _ : state) {
    memcpy(dst.data(), src.data(), n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_Memcpy)->Apply(Args);

kplat::PixelFormat Format(int bpp, uint32_t r, uint32_t g, uint32_t b) {
  kplat::PixelFormat f;
  memset(&f, 0, sizeof(f));
  f.bitsPerPixel = bpp;
  f.redMask = r;
  f.greenMask = g;
  f.blueMask = b;
  for (int i = 0; i < 256; ++i)
    f.palette[i] = RGBQUAD{uint8_t(i), uint8_t(i * 7), uint8_t(i * 13), 0};
  return f;
}

// The screen bitmap (top-down) into a bottom-up section, as CopyFrom does.
void Convert(benchmark::State &state, kplat::PixelFormat f,
             kplat::ConvertKernel kernel) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const ptrdiff_t ss = (ptrdiff_t(w) * f.BytesPerPixel() + 3) & ~3;
  const ptrdiff_t ds = (ptrdiff_t(w) * 3 + 3) & ~3;
  std::vector<uint8_t> src = Noise(size_t(ss) * h), dst(size_t(ds) * h);
  kplat::Bgr24Converter conv;
  if (!kplat::PrepareBgr24Converter(f, &conv)) {
    state.SkipWithError("format refused");
    return;
  }
  // A family the CPU lacks would measure the plain routine under its name.
  if ((kernel == kplat::ConvertKernel::kSsse3 && !kplat::rows::HaveSsse3()) ||
      (kernel == kplat::ConvertKernel::kNeon && !kplat::rows::HaveNeon())) {
    state.SkipWithError("not on this CPU");
    return;
  }
  for (auto _ : state) {
    kplat::ConvertToBgr24(conv, src.data(), ss, dst.data() + (h - 1) * ds, -ds,
                          w, h, kernel);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 3);
}

const kplat::PixelFormat kXrgb = Format(32, 0xFF0000, 0xFF00, 0xFF);
const kplat::PixelFormat kRgb565 = Format(16, 0xF800, 0x07E0, 0x1F);
const kplat::PixelFormat kPal8 = Format(8, 0, 0, 0);
using K = kplat::ConvertKernel;

BENCHMARK_CAPTURE(Convert, xrgb32_plain, kXrgb, K::kPlain)->Apply(Args);
BENCHMARK_CAPTURE(Convert, xrgb32_block, kXrgb, K::kBlock)->Apply(Args);
BENCHMARK_CAPTURE(Convert, xrgb32_ssse3, kXrgb, K::kSsse3)->Apply(Args);
BENCHMARK_CAPTURE(Convert, rgb565_plain, kRgb565, K::kPlain)->Apply(Args);
BENCHMARK_CAPTURE(Convert, rgb565_block, kRgb565, K::kBlock)->Apply(Args);
BENCHMARK_CAPTURE(Convert, rgb565_ssse3, kRgb565, K::kSsse3)->Apply(Args);
BENCHMARK_CAPTURE(Convert, xrgb32_neon, kXrgb, K::kNeon)->Apply(Args);
BENCHMARK_CAPTURE(Convert, rgb565_neon, kRgb565, K::kNeon)->Apply(Args);
BENCHMARK_CAPTURE(Convert, pal8_plain, kPal8, K::kPlain)->Apply(Args);
BENCHMARK_CAPTURE(Convert, pal8_block, kPal8, K::kBlock)->Apply(Args);

// The packing as it was first written, for comparison: three byte copies
// per pixel.
void PackPlain(const CDibSurface &s, BYTE *out, PackOrder order) {
  const size_t sr = size_t(s.m_nStride) * 3, dr = size_t(s.m_nWidth) * 3;
  for (int y = 0; y < s.m_nHeight; ++y) {
    const BYTE *src = s.m_pBits + (s.m_nHeight - 1 - y) * sr;
    BYTE *dst = out + y * dr;
    for (int x = 0; x < s.m_nWidth; ++x) {
      dst[3 * x] = src[3 * x + (order == kPackRgb ? 2 : 0)];
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x + (order == kPackRgb ? 0 : 2)];
    }
  }
}

enum class PackWay { kPlain, kBefore, kBeforePortable, kNow };

void Pack(benchmark::State &state, PackOrder order, PackWay way) {
  const int w = int(state.range(0)), h = int(state.range(1));
  CDibSurface surface;  // no section: the pixels are the benchmark's own
  surface.m_nWidth = w;
  surface.m_nHeight = h;
  surface.m_nStride = CDibSurface::AlignWidth(w);
  std::vector<uint8_t> bits = Noise(size_t(surface.m_nStride) * h * 3),
                       out(size_t(w) * h * 3);
  surface.m_pBits = bits.data();
  for (auto _ : state) {
    switch (way) {
      case PackWay::kPlain:
        PackPlain(surface, out.data(), order);
        break;
      case PackWay::kBefore:
        PackSurfaceBefore(surface, out.data(), order, false);
        break;
      case PackWay::kBeforePortable:
        PackSurfaceBefore(surface, out.data(), order, true);
        break;
      case PackWay::kNow:
        PackSurface(surface, out.data(), order);
        break;
    }
    benchmark::ClobberMemory();
  }
  surface.m_pBits = NULL;
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 3);
}

// before: the module's own routines (SSSE3 where the CPU has it);
// portable: those without SSSE3, plain C++ the compiler vectorises as it
// can; now: the platform's CopyPixels24.
BENCHMARK_CAPTURE(Pack, bgr_plain, kPackBgr, PackWay::kPlain)->Apply(Args);
BENCHMARK_CAPTURE(Pack, bgr_before, kPackBgr, PackWay::kBefore)->Apply(Args);
BENCHMARK_CAPTURE(Pack, bgr, kPackBgr, PackWay::kNow)->Apply(Args);
BENCHMARK_CAPTURE(Pack, rgb_plain, kPackRgb, PackWay::kPlain)->Apply(Args);
BENCHMARK_CAPTURE(Pack, rgb_before, kPackRgb, PackWay::kBefore)->Apply(Args);
BENCHMARK_CAPTURE(Pack, rgb_portable, kPackRgb, PackWay::kBeforePortable)
    ->Apply(Args);
BENCHMARK_CAPTURE(Pack, rgb, kPackRgb, PackWay::kNow)->Apply(Args);

}  // namespace

BENCHMARK_MAIN();
