// Screen information turned into a layout: the arithmetic at its limits.
#include "fb_layout.h"

#include <gtest/gtest.h>

namespace kplat {
namespace fbdev {
namespace {

void Xrgb(fb_var_screeninfo *var, fb_fix_screeninfo *fix) {
  *var = {};
  *fix = {};
  var->xres = var->xres_virtual = 640;
  var->yres = var->yres_virtual = 480;
  var->bits_per_pixel = 32;
  var->red = {16, 8, 0};
  var->green = {8, 8, 0};
  var->blue = {0, 8, 0};
  fix->type = FB_TYPE_PACKED_PIXELS;
  fix->visual = FB_VISUAL_TRUECOLOR;
  fix->line_length = 640 * 4;
  fix->smem_len = 640 * 4 * 480;
}

TEST(Describe, TheVisibleAreaMustEndInsideTheMemory) {
  fb_var_screeninfo var;
  fb_fix_screeninfo fix;
  Layout layout;
  Xrgb(&var, &fix);
  ASSERT_TRUE(Describe(var, fix, nullptr, &layout));
  EXPECT_EQ(layout.geometry.end, uint64_t(640) * 4 * 480);
  EXPECT_EQ(layout.conversion, Conversion::kCopy);

  // The last row may be shorter than the line: only its pixels count.
  fix.line_length = 640 * 4 + 100;
  fix.smem_len = (640 * 4 + 100) * 479 + 640 * 4;
  EXPECT_TRUE(Describe(var, fix, nullptr, &layout));
  fix.smem_len -= 1;
  EXPECT_FALSE(Describe(var, fix, nullptr, &layout));
}

TEST(Describe, HugeOffsetsAndLinesDoNotWrap) {
  fb_var_screeninfo var;
  fb_fix_screeninfo fix;
  Layout layout;
  Xrgb(&var, &fix);
  fix.smem_len = UINT32_MAX;
  // In 32-bit arithmetic these products wrap to small numbers that would
  // seem to fit.
  var.yoffset = 0x40000000;
  fix.line_length = 4 * 640 * 2;
  EXPECT_FALSE(Describe(var, fix, nullptr, &layout));
  Xrgb(&var, &fix);
  fix.smem_len = UINT32_MAX;
  var.yoffset = UINT32_MAX;
  fix.line_length = UINT32_MAX;
  EXPECT_FALSE(Describe(var, fix, nullptr, &layout));
  Xrgb(&var, &fix);
  var.xoffset = UINT32_MAX - 100;
  fix.line_length = UINT32_MAX;
  fix.smem_len = UINT32_MAX;
  EXPECT_FALSE(Describe(var, fix, nullptr, &layout));
}

TEST(Describe, ALineLengthOfZeroFollowsTheVirtualWidth) {
  fb_var_screeninfo var;
  fb_fix_screeninfo fix;
  Layout layout;
  Xrgb(&var, &fix);
  var.xres_virtual = 800;
  fix.line_length = 0;
  fix.smem_len = 800 * 4 * 480;
  ASSERT_TRUE(Describe(var, fix, nullptr, &layout));
  EXPECT_EQ(layout.geometry.lineLength, 800u * 4);
  var.xres_virtual = 0;
  EXPECT_FALSE(Describe(var, fix, nullptr, &layout));
}

TEST(ColourMapLength, OnlyForTheVisualsThatUseIt) {
  fb_var_screeninfo var;
  fb_fix_screeninfo fix;
  Xrgb(&var, &fix);
  EXPECT_EQ(ColourMapLength(var, fix), 0u);
  fix.visual = FB_VISUAL_DIRECTCOLOR;
  var.green.length = 6;
  EXPECT_EQ(ColourMapLength(var, fix), 256u);
  var.red.length = var.green.length = var.blue.length = 5;
  EXPECT_EQ(ColourMapLength(var, fix), 32u);
  var.red.length = 10;
  EXPECT_EQ(ColourMapLength(var, fix), 0u) << "too wide to look up";
  fix.visual = FB_VISUAL_PSEUDOCOLOR;
  var.bits_per_pixel = 4;
  EXPECT_EQ(ColourMapLength(var, fix), 16u);
  var.grayscale = 1;
  EXPECT_EQ(ColourMapLength(var, fix), 0u) << "grey levels need no map";
  Layout layout;
  var.grayscale = 0;
  EXPECT_FALSE(Describe(var, fix, nullptr, &layout)) << "map not given";
}

}  // namespace
}  // namespace fbdev
}  // namespace kplat
