// Conversions into the 24-bit surface and the packing, in bytes written per
// second, beside memcpy of the same number of bytes between buffers of the
// same size. Sizes are whole screens, so the data is what one call moves.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "capture/packing.h"
#include "gdi/pixel_convert.h"
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

void Pack(benchmark::State &state, PackOrder order, bool plain,
          PackKernel kernel = kPackKernelBest) {
  const int w = int(state.range(0)), h = int(state.range(1));
  CDibSurface surface;  // no section: the pixels are the benchmark's own
  surface.m_nWidth = w;
  surface.m_nHeight = h;
  surface.m_nStride = CDibSurface::AlignWidth(w);
  std::vector<uint8_t> bits = Noise(size_t(surface.m_nStride) * h * 3),
                       out(size_t(w) * h * 3);
  surface.m_pBits = bits.data();
  for (auto _ : state) {
    if (plain)
      PackPlain(surface, out.data(), order);
    else
      PackSurface(surface, out.data(), order, kernel);
    benchmark::ClobberMemory();
  }
  surface.m_pBits = NULL;
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 3);
}

BENCHMARK_CAPTURE(Pack, bgr_plain, kPackBgr, true)->Apply(Args);
BENCHMARK_CAPTURE(Pack, bgr, kPackBgr, false)->Apply(Args);
BENCHMARK_CAPTURE(Pack, rgb_plain, kPackRgb, true)->Apply(Args);
BENCHMARK_CAPTURE(Pack, rgb_block, kPackRgb, false, kPackKernelPortable)
    ->Apply(Args);
BENCHMARK_CAPTURE(Pack, rgb, kPackRgb, false)->Apply(Args);

}  // namespace

BENCHMARK_MAIN();
