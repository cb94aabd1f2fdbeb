// The block, SSSE3 and NEON row routines against the plain one, on random
// formats, widths, strides and alignments. Buffers end exactly where the last
// row ends, so a routine that reads or writes past a row shows up under the
// sanitizers, and sentinel bytes catch stray writes without them.
#include <gtest/gtest.h>
#include <string.h>

#include <array>
#include <random>
#include <vector>

#include "convert_rows.h"
#include "pixel_convert.h"

namespace {

using kplat::ConvertKernel;

// A random supported format: channels in a random order at random places.
kplat::PixelFormat RandomFormat(std::mt19937 &rng) {
  kplat::PixelFormat f;
  memset(&f, 0, sizeof(f));
  int order[3] = {0, 1, 2};
  std::shuffle(order, order + 3, rng);
  int bits[3];
  int kind = int(rng() % 6);
  switch (kind) {
    case 0:  // palettised
      f.bitsPerPixel = 8;
      for (auto &e : f.palette)
        e = RGBQUAD{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
      return f;
    case 1:  // 5-5-5 or 5-6-5, channels in any order
      f.bitsPerPixel = 16;
      bits[0] = bits[1] = bits[2] = 5;
      if (rng() % 2) bits[1] = 6;  // only green may be wide
      break;
    case 2:
      f.bitsPerPixel = 24;
      bits[0] = bits[1] = bits[2] = 8;
      break;
    case 3:  // 10 bits a channel
      f.bitsPerPixel = 32;
      bits[0] = bits[1] = bits[2] = 10;
      break;
    default:  // 8 bits a channel, on byte boundaries or not
      f.bitsPerPixel = 32;
      bits[0] = bits[1] = bits[2] = 8;
      break;
  }
  const int total = bits[0] + bits[1] + bits[2];
  const int slack = f.bitsPerPixel - total;
  const bool aligned = kind == 4 || kind == 2;
  int pos =
      aligned ? 8 * int(rng() % (slack / 8 + 1)) : int(rng() % (slack + 1));
  uint32_t *masks[3] = {&f.redMask, &f.greenMask, &f.blueMask};
  for (int i : order) {
    *masks[i] = ((uint32_t(1) << bits[i]) - 1) << pos;
    pos += bits[i];
  }
  return f;
}

struct Case {
  int width, height;
  ptrdiff_t srcStride, dstStride;  // dstStride may be negative
  size_t srcOffset;                // misalignment of the first row
};

// Runs one kernel on one case: the destination filled with sentinels first.
std::vector<uint8_t> Run(const kplat::Bgr24Converter &conv,
                         const std::vector<uint8_t> &src, const Case &c,
                         ConvertKernel kernel) {
  const size_t dstSize =
      size_t(std::abs(c.dstStride)) * (c.height - 1) + size_t(c.width) * 3;
  std::vector<uint8_t> dst(dstSize, 0xA5);
  uint8_t *first =
      c.dstStride < 0 ? dst.data() + dstSize - size_t(c.width) * 3 : dst.data();
  kplat::ConvertToBgr24(conv, src.data() + c.srcOffset, c.srcStride, first,
                        c.dstStride, c.width, c.height, kernel);
  return dst;
}

void CompareKernels(ConvertKernel kernel, unsigned seed) {
  std::mt19937 rng(seed);
  for (int round = 0; round < 400; ++round) {
    const kplat::PixelFormat f = RandomFormat(rng);
    ASSERT_TRUE(kplat::IsSupportedFormat(f)) << round;
    kplat::Bgr24Converter conv;
    ASSERT_TRUE(kplat::PrepareBgr24Converter(f, &conv));
    Case c;
    // Mostly around the 4- and 16-pixel block edges, sometimes long rows.
    c.width = round % 5 == 0 ? 1 + int(rng() % 700) : 1 + int(rng() % 40);
    c.height = 1 + int(rng() % 4);
    const int bpp = f.BytesPerPixel();
    c.srcStride = ptrdiff_t(c.width) * bpp + ptrdiff_t(rng() % 9);
    c.dstStride = ptrdiff_t(c.width) * 3 + ptrdiff_t(rng() % 5);
    if (rng() % 2) c.dstStride = -c.dstStride;
    c.srcOffset = rng() % 4;
    std::vector<uint8_t> src(c.srcOffset +
                             size_t(c.srcStride) * (c.height - 1) +
                             size_t(c.width) * bpp);
    for (auto &b : src) b = uint8_t(rng());
    const auto want = Run(conv, src, c, ConvertKernel::kPlain);
    const auto got = Run(conv, src, c, kernel);
    ASSERT_EQ(want, got) << "round " << round << " bpp " << f.bitsPerPixel
                         << " masks " << std::hex << f.redMask << " "
                         << f.greenMask << " " << f.blueMask << std::dec
                         << " width " << c.width;
  }
}

TEST(ConvertKernels, BlockMatchesPlainOnRandomFormats) {
  CompareKernels(ConvertKernel::kBlock, 1);
}

TEST(ConvertKernels, Ssse3MatchesPlainOnRandomFormats) {
  if (!kplat::rows::HaveSsse3()) GTEST_SKIP() << "no SSSE3 on this CPU";
  CompareKernels(ConvertKernel::kSsse3, 2);
}

TEST(ConvertKernels, NeonMatchesPlainOnRandomFormats) {
  if (!kplat::rows::HaveNeon()) GTEST_SKIP() << "no NEON on this CPU";
  CompareKernels(ConvertKernel::kNeon, 4);
}

TEST(ConvertKernels, BestMatchesPlainOnRandomFormats) {
  CompareKernels(ConvertKernel::kBest, 3);
}

// The 24-bit block copy that the packing uses, through every routine
// family: the same bytes, or the first and third of each pixel swapped,
// rows walked backwards as the packing walks a bottom-up surface.
TEST(ConvertKernels, CopyBgr24SwapsOnlyTheOuterBytes) {
  std::mt19937 rng(5);
  for (int w = 1; w <= 70; ++w) {
    const int h = 3;
    const ptrdiff_t srcStride = ptrdiff_t(w) * 3 + w % 4;
    std::vector<uint8_t> src(size_t(srcStride) * (h - 1) + size_t(w) * 3);
    for (auto &b : src) b = uint8_t(rng());
    for (bool swap : {false, true}) {
      for (ConvertKernel k :
           {ConvertKernel::kPlain, ConvertKernel::kBlock, ConvertKernel::kSsse3,
            ConvertKernel::kNeon, ConvertKernel::kBest}) {
        std::vector<uint8_t> dst(size_t(w) * 3 * h);
        kplat::CopyBgr24(src.data() + (h - 1) * srcStride, -srcStride,
                         dst.data(), ptrdiff_t(w) * 3, w, h, swap, k);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            const uint8_t *s = &src[size_t(h - 1 - y) * srcStride + 3 * x];
            const uint8_t *d = &dst[(size_t(y) * w + x) * 3];
            ASSERT_TRUE(d[0] == s[swap ? 2 : 0] && d[1] == s[1] &&
                        d[2] == s[swap ? 0 : 2])
                << "width " << w << " pixel " << x << "," << y << " kernel "
                << int(k) << " swap " << swap;
          }
      }
    }
  }
}

// Every 16-bit value, so that the scaling of 5- and 6-bit channels is exact
// over the whole range and not just where random samples fell.
TEST(ConvertKernels, EverySixteenBitValueScalesAsTheTables) {
  const uint32_t formats[][3] = {{0xF800, 0x07E0, 0x001F},
                                 {0x7C00, 0x03E0, 0x001F},
                                 {0x001F, 0x07E0, 0xF800},
                                 {0x001F, 0x03E0, 0x7C00}};
  const int w = 65536;
  std::vector<uint8_t> src(2 * w);
  for (int v = 0; v < w; ++v) {
    src[2 * v] = uint8_t(v);
    src[2 * v + 1] = uint8_t(v >> 8);
  }
  for (const auto &m : formats) {
    kplat::PixelFormat f;
    memset(&f, 0, sizeof(f));
    f = {16, m[0], m[1], m[2], {}};
    kplat::Bgr24Converter conv;
    ASSERT_TRUE(kplat::PrepareBgr24Converter(f, &conv));
    std::vector<uint8_t> want(3 * w), got(3 * w);
    kplat::ConvertToBgr24(conv, src.data(), 0, want.data(), 0, w, 1,
                          ConvertKernel::kPlain);
    for (ConvertKernel k : {ConvertKernel::kBlock, ConvertKernel::kSsse3,
                            ConvertKernel::kNeon, ConvertKernel::kBest}) {
      std::fill(got.begin(), got.end(), 0);
      kplat::ConvertToBgr24(conv, src.data(), 0, got.data(), 0, w, 1, k);
      for (int v = 0; v < w; ++v)
        ASSERT_TRUE(memcmp(&want[3 * v], &got[3 * v], 3) == 0)
            << std::hex << "value " << v << " masks " << m[0] << " " << m[1]
            << " " << m[2];
    }
  }
}

// The routines common screens get must be the vector ones where the CPU
// has them: a silent fall back to the plain loop would cost the most.
TEST(ConvertKernels, CommonFormatsUseTheVectorRoutines) {
  using Family = kplat::rows::RowFn (*)(const kplat::Bgr24Converter &);
  std::vector<Family> families;
  if (kplat::rows::HaveSsse3()) families.push_back(kplat::rows::Ssse3Row);
  if (kplat::rows::HaveNeon()) families.push_back(kplat::rows::NeonRow);
  if (families.empty()) GTEST_SKIP() << "no SSSE3 or NEON on this CPU";
  kplat::PixelFormat f;
  memset(&f, 0, sizeof(f));
  kplat::Bgr24Converter conv;
  for (Family family : families) {
    for (const auto &m : {std::array<uint32_t, 3>{0xFF0000, 0xFF00, 0xFF},
                          std::array<uint32_t, 3>{0xFF, 0xFF00, 0xFF0000},
                          std::array<uint32_t, 3>{0xFF000000, 0xFF00, 0xFF}}) {
      f = {32, m[0], m[1], m[2], {}};
      ASSERT_TRUE(kplat::PrepareBgr24Converter(f, &conv));
      EXPECT_NE(nullptr, family(conv)) << std::hex << m[0];
    }
    f = {16, 0xF800, 0x07E0, 0x001F, {}};
    ASSERT_TRUE(kplat::PrepareBgr24Converter(f, &conv));
    EXPECT_NE(nullptr, family(conv));
    f = {32, 0xFF0, 0xFF000, 0xFF00000, {}};  // channels off byte boundaries
    ASSERT_TRUE(kplat::PrepareBgr24Converter(f, &conv));
    EXPECT_EQ(nullptr, family(conv));
    EXPECT_NE(nullptr, kplat::rows::BlockRow(conv));
  }
}

}  // namespace
