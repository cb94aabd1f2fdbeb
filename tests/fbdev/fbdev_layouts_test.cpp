// Every framebuffer layout read through the screen, with the exact colours
// it must give.
#include "fbdev_fixture.h"

namespace ktest {
namespace {

using Layouts = FbdevTest;

TEST_F(Layouts, MonochromeInBothSenses) {
  for (uint32_t visual : {FB_VISUAL_MONO01, FB_VISUAL_MONO10}) {
    fb_.SetUp(10, 1, 1, visual);
    fb_.Put(0, 0, {0xA0, 0x40});  // pixels 0, 2 and 9 set
    Shot shot = Take();
    ASSERT_TRUE(shot.ok);
    EXPECT_TRUE(shot.frame.format.IsPalettised());
    const uint32_t set = visual == FB_VISUAL_MONO10 ? 255 : 0;
    const uint32_t clear = 255 - set;
    EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{set, set, set}));
    EXPECT_EQ(ColourAt(shot, 1, 0), (Rgb{clear, clear, clear}));
    EXPECT_EQ(ColourAt(shot, 2, 0), (Rgb{set, set, set}));
    EXPECT_EQ(ColourAt(shot, 8, 0), (Rgb{clear, clear, clear}));
    EXPECT_EQ(ColourAt(shot, 9, 0), (Rgb{set, set, set}));
  }
}

TEST_F(Layouts, GreyLevelsFillTheRange) {
  fb_.SetUp(4, 1, 2, FB_VISUAL_STATIC_PSEUDOCOLOR);
  fb_.var.grayscale = 1;
  fb_.Put(0, 0, {0x1B});  // levels 0, 1, 2, 3
  Shot shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(ColourAt(shot, 1, 0), (Rgb{85, 85, 85}));
  EXPECT_EQ(ColourAt(shot, 2, 0), (Rgb{170, 170, 170}));
  EXPECT_EQ(ColourAt(shot, 3, 0), (Rgb{255, 255, 255}));

  // 4-bit grey in the red field: (v * 255 + 7) / 15.
  fb_.SetUp(2, 1, 4, FB_VISUAL_TRUECOLOR);
  fb_.var.grayscale = 1;
  fb_.SetField(&fb_.var.red, 0, 4);
  fb_.Put(0, 0, {0x7F});
  shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{119, 119, 119}));
  EXPECT_EQ(ColourAt(shot, 1, 0), (Rgb{255, 255, 255}));
}

TEST_F(Layouts, GreyAbove8BitsIsTruecolour) {
  fb_.SetUp(2, 1, 32, FB_VISUAL_TRUECOLOR);
  fb_.var.grayscale = 1;
  fb_.SetField(&fb_.var.red, 8, 8);
  fb_.Put(0, 0, {0xFF, 0x40, 0xFF, 0xFF, 0, 0xFF, 0, 0});
  Shot shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(shot.frame.format.bitsPerPixel, 32);
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{0x40, 0x40, 0x40}));
  EXPECT_EQ(ColourAt(shot, 1, 0), (Rgb{0xFF, 0xFF, 0xFF}));
}

TEST_F(Layouts, PseudocolourThroughTheColourMap) {
  fb_.SetUp(3, 1, 4, FB_VISUAL_PSEUDOCOLOR);
  // 16-bit entries round to the nearest 8-bit value: 129 is 0.502 of a
  // step, 128 is 0.498.
  fb_.red[5] = 0xFFFF;
  fb_.green[5] = 129;
  fb_.blue[5] = 128;
  fb_.red[10] = 0x8080;
  fb_.Put(0, 0, {0x5A, 0x00});
  Shot shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{255, 1, 0}));
  EXPECT_EQ(ColourAt(shot, 1, 0), (Rgb{128, 0, 0}));
  EXPECT_EQ(ColourAt(shot, 2, 0), (Rgb{0, 0, 0}));
}

TEST_F(Layouts, EightBitPseudocolourIsCopied) {
  fb_.SetUp(2, 1, 8, FB_VISUAL_STATIC_PSEUDOCOLOR);
  fb_.cmapLength = 16;  // entries beyond the driver's map stay black
  fb_.red[3] = fb_.green[3] = fb_.blue[3] = 0xFFFF;
  fb_.red[200] = 0xFFFF;
  fb_.Put(0, 0, {3, 200});
  Shot shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(PixelAt(shot, 0, 0), 3u);
  EXPECT_EQ(PixelAt(shot, 1, 0), 200u);
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(ColourAt(shot, 1, 0), (Rgb{0, 0, 0}));
}

TEST_F(Layouts, DirectcolourChannelsIndexTheColourMap) {
  fb_.SetUp(1, 1, 16, FB_VISUAL_DIRECTCOLOR);
  fb_.SetChannels(11, 5, 5, 6, 0, 5);
  fb_.red[17] = 0x1000;    // 16
  fb_.green[40] = 0xFF00;  // 254
  fb_.blue[3] = 0x0300;    // 3
  const uint16_t pixel = 17 << 11 | 40 << 5 | 3;
  fb_.PutPixel(0, 0, pixel);
  Shot shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(shot.frame.format.bitsPerPixel, 32);
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{16, 254, 3}));

  // 3-3-2 directcolour in one byte becomes a palette.
  fb_.SetUp(1, 1, 8, FB_VISUAL_DIRECTCOLOR);
  fb_.SetChannels(5, 3, 2, 3, 0, 2);
  fb_.red[6] = 0xA000;
  fb_.green[1] = 0x0800;
  fb_.blue[2] = 0xFFFF;
  fb_.Put(0, 0, {6 << 5 | 1 << 2 | 2});
  shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_TRUE(shot.frame.format.IsPalettised());
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{159, 8, 255}));
}

struct Direct16 {
  uint32_t r, g, b;  // offsets; lengths 5, 5 or 6, 5
  uint32_t greenBits;
};

TEST_F(Layouts, SixteenBitLayoutsMapStraightOntoMasks) {
  const Direct16 cases[] = {
      {11, 5, 0, 6}, {0, 5, 11, 6}, {10, 5, 0, 5}, {0, 5, 10, 5}};
  for (const Direct16 &c : cases) {
    fb_.SetUp(1, 1, 16, FB_VISUAL_TRUECOLOR);
    fb_.SetChannels(c.r, 5, c.g, c.greenBits, c.b, 5);
    const uint16_t pixel = uint16_t(3u << c.r | 1u << c.g | 30u << c.b);
    fb_.PutPixel(0, 0, pixel);
    Shot shot = Take();
    ASSERT_TRUE(shot.ok);
    const kplat::PixelFormat &f = shot.frame.format;
    EXPECT_EQ(f.bitsPerPixel, 16);
    EXPECT_EQ(f.redMask, 31u << c.r);
    EXPECT_EQ(f.greenMask, ((1u << c.greenBits) - 1) << c.g);
    EXPECT_EQ(f.blueMask, 31u << c.b);
    EXPECT_EQ(PixelAt(shot, 0, 0), pixel);
  }
}

TEST_F(Layouts, TwentyFourAndThirtyTwoBitLayoutsMapStraight) {
  fb_.SetUp(2, 1, 24, FB_VISUAL_TRUECOLOR);  // bytes blue, green, red
  fb_.SetChannels(16, 8, 8, 8, 0, 8);
  fb_.Put(0, 0, {0x11, 0x22, 0x33, 0xFF, 0x00, 0x80});
  Shot shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(shot.frame.format.bitsPerPixel, 24);
  EXPECT_EQ(shot.frame.format.redMask, 0xFF0000u);
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{0x33, 0x22, 0x11}));
  EXPECT_EQ(ColourAt(shot, 1, 0), (Rgb{0x80, 0x00, 0xFF}));

  fb_.SetUp(1, 1, 32, FB_VISUAL_TRUECOLOR);  // XRGB8888
  fb_.SetChannels(16, 8, 8, 8, 0, 8);
  fb_.Put(0, 0, {0x01, 0x02, 0x03, 0xEE});
  shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(shot.frame.format.blueMask, 0xFFu);
  EXPECT_EQ(PixelAt(shot, 0, 0), 0xEE030201u);  // copied as it is

  fb_.SetUp(1, 1, 32, FB_VISUAL_TRUECOLOR);  // 2101010
  fb_.SetChannels(20, 10, 10, 10, 0, 10);
  const uint32_t pixel = 1023u << 20 | 512u << 10 | 1;
  fb_.PutPixel(0, 0, pixel);
  shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(shot.frame.format.redMask, 0x3FF00000u);
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{1023, 512, 1}));
}

TEST_F(Layouts, OddChannelsExpandExactly) {
  // 4-4-4 in 16 bits: (v * 255 + 7) / 15, full scale stays full scale.
  fb_.SetUp(2, 1, 16, FB_VISUAL_TRUECOLOR);
  fb_.SetChannels(8, 4, 4, 4, 0, 4);
  fb_.Put(0, 0, {0x1F, 0x07, 0x00, 0x0F});
  Shot shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(shot.frame.format.bitsPerPixel, 32);
  EXPECT_EQ(shot.frame.format.redMask, 0xFF0000u);
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{119, 17, 255}));
  EXPECT_EQ(ColourAt(shot, 1, 0), (Rgb{255, 0, 0}));

  // 3-3-2 truecolour in one byte: a palette of its 256 colours.
  fb_.SetUp(1, 1, 8, FB_VISUAL_TRUECOLOR);
  fb_.SetChannels(5, 3, 2, 3, 0, 2);
  fb_.Put(0, 0, {3 << 5 | 7 << 2 | 1});
  shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{109, 255, 85}));

  // 9-bit channels keep their precision in 10-10-10.
  fb_.SetUp(1, 1, 32, FB_VISUAL_TRUECOLOR);
  fb_.SetChannels(18, 9, 9, 9, 0, 9);
  const uint32_t pixel = 511u << 18 | 256u << 9 | 1;
  fb_.PutPixel(0, 0, pixel);
  shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(shot.frame.format.redMask, 0x3FF00000u);
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{1023, 513, 2}));
}

TEST_F(Layouts, MsbRightReversesTheField) {
  fb_.SetUp(1, 1, 16, FB_VISUAL_TRUECOLOR);
  fb_.SetChannels(11, 5, 5, 6, 0, 5);
  fb_.var.red.msb_right = 1;
  // Red bits 00001 read right to left are 10000 = 16; green 1 is 1.
  const uint16_t pixel = 1 << 11 | 1 << 5 | 31;
  fb_.PutPixel(0, 0, pixel);
  Shot shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(shot.frame.format.bitsPerPixel, 32);
  EXPECT_EQ(ColourAt(shot, 0, 0), (Rgb{132, 4, 255}));
}

}  // namespace
}  // namespace ktest
