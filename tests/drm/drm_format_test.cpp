#include "drm_format.h"

#include <drm_fourcc.h>
#include <gtest/gtest.h>

namespace kplat {
namespace drm {
namespace {

TEST(DrmFormat, LinearFormatsMapOntoScreenFormats) {
  struct Case {
    uint32_t fourcc;
    int bits;
    uint32_t r, g, b;
  };
  const Case cases[] = {
      {DRM_FORMAT_XRGB8888, 32, 0xFF0000, 0xFF00, 0xFF},
      {DRM_FORMAT_ARGB8888, 32, 0xFF0000, 0xFF00, 0xFF},
      {DRM_FORMAT_XBGR8888, 32, 0xFF, 0xFF00, 0xFF0000},
      {DRM_FORMAT_ABGR8888, 32, 0xFF, 0xFF00, 0xFF0000},
      {DRM_FORMAT_RGB565, 16, 0xF800, 0x7E0, 0x1F},
      {DRM_FORMAT_XRGB2101010, 32, 0x3FF00000, 0xFFC00, 0x3FF},
      {DRM_FORMAT_XBGR2101010, 32, 0x3FF, 0xFFC00, 0x3FF00000},
  };
  for (const Case &c : cases) {
    PixelFormat f;
    ASSERT_TRUE(FormatFromFourcc(c.fourcc, &f)) << c.fourcc;
    EXPECT_EQ(f.bitsPerPixel, c.bits);
    EXPECT_EQ(f.redMask, c.r);
    EXPECT_EQ(f.greenMask, c.g);
    EXPECT_EQ(f.blueMask, c.b);
    EXPECT_TRUE(IsSupportedFormat(f));
  }
}

TEST(DrmFormat, OthersAreRefused) {
  PixelFormat f;
  for (uint32_t fourcc :
       {DRM_FORMAT_NV12, DRM_FORMAT_RGB888, DRM_FORMAT_BGR565, DRM_FORMAT_C8,
        DRM_FORMAT_XRGB8888 | DRM_FORMAT_BIG_ENDIAN, 0u})
    EXPECT_FALSE(FormatFromFourcc(fourcc, &f)) << fourcc;
}

TEST(DrmFormat, TheOlderQueryNamesFormatsByDepth) {
  EXPECT_EQ(FourccFromDepth(32, 24), uint32_t(DRM_FORMAT_XRGB8888));
  EXPECT_EQ(FourccFromDepth(32, 32), uint32_t(DRM_FORMAT_ARGB8888));
  EXPECT_EQ(FourccFromDepth(32, 30), uint32_t(DRM_FORMAT_XRGB2101010));
  EXPECT_EQ(FourccFromDepth(16, 16), uint32_t(DRM_FORMAT_RGB565));
  EXPECT_EQ(FourccFromDepth(16, 15), 0u);
  EXPECT_EQ(FourccFromDepth(24, 24), 0u);
}

}  // namespace
}  // namespace drm
}  // namespace kplat
