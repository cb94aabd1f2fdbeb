// The packing of a surface into top-down rows, for both byte orders,
// against the pixel formula worked out here. The packed buffer
// is exactly width x height x 3 bytes, so a write past it shows up under the
// sanitizers; padding columns hold a marker that must never reach it.
#include "capture/packing.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "surface/dib_surface.h"

namespace {

class Packing : public ::testing::TestWithParam<PackOrder> {};

TEST_P(Packing, EveryPixelLandsTopDownInTheWritersOrder) {
  const PackOrder order = GetParam();
  std::mt19937 rng(7);
  // Around the 4- and 5-pixel steps of the row routines, and a screen width.
  std::vector<int> widths;
  for (int w = 1; w <= 40; ++w) widths.push_back(w);
  widths.push_back(241);
  widths.push_back(1920);
  for (int w : widths) {
    const int h = 1 + int(rng() % 3);
    CDibSurface surface;  // pixels are the test's own: no section is made
    surface.m_nWidth = w;
    surface.m_nHeight = h;
    surface.m_nStride = CDibSurface::AlignWidth(w);
    std::vector<BYTE> bits(size_t(surface.m_nStride) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < surface.m_nStride; ++x)
        for (int c = 0; c < 3; ++c)
          bits[(size_t(y) * surface.m_nStride + x) * 3 + c] =
              x < w ? BYTE(rng() % 255) : BYTE(0xFF);  // 0xFF: padding only
    surface.m_pBits = bits.data();
    std::vector<BYTE> packed(size_t(w) * h * 3);
    PackSurface(surface, packed.data(), order);
    surface.m_pBits = NULL;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const BYTE *s = &bits[(size_t(h - 1 - y) * surface.m_nStride + x) * 3];
        const BYTE *d = &packed[(size_t(y) * w + x) * 3];
        const bool rgb = order == kPackRgb;
        ASSERT_TRUE(d[0] == s[rgb ? 2 : 0] && d[1] == s[1] &&
                    d[2] == s[rgb ? 0 : 2])
            << "width " << w << " pixel " << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Orders, Packing, ::testing::Values(kPackBgr, kPackRgb),
                         [](const ::testing::TestParamInfo<PackOrder> &i) {
                           return std::string(i.param == kPackBgr ? "Bgr"
                                                                  : "Rgb");
                         });

}  // namespace
