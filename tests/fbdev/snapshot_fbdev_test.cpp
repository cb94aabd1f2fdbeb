// SnapShot from end to end on a framebuffer device faked behind the kernel
// seam: the registry finds it when no desktop screen is named, and the PNG
// holds its pixels exactly.
#include <kestrel/kestrel.h>

#include <string>

#include "fbdev_fixture.h"
#include "images.h"

namespace ktest {
namespace {

class SnapShotFbdev : public FbdevTest {
 protected:
  void SetUp() override {
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
      const char *value = getenv(name);
      saved_.push_back({name, value != nullptr ? value : "", value != nullptr});
      unsetenv(name);
    }
    FbdevTest::SetUp();
  }
  void TearDown() override {
    FbdevTest::TearDown();
    for (const Saved &s : saved_)
      if (s.set) setenv(s.name, s.value.c_str(), 1);
  }
  Image Snap() {
    fb_.Sync();
    Image image;
    const std::u16string path = Utf16(dir_.File("fb.png"));
    EXPECT_EQ(SnapShot(path.c_str(), 0), 1);
    EXPECT_TRUE(DecodePng(dir_.File("fb.png"), &image));
    return image;
  }

  struct Saved {
    const char *name;
    std::string value;
    bool set;
  };
  std::vector<Saved> saved_;
  TempDir dir_;
};

TEST_F(SnapShotFbdev, FourBitPseudocolour) {
  fb_.SetUp(5, 2, 4, FB_VISUAL_PSEUDOCOLOR);
  fb_.red[1] = 0xFFFF;
  fb_.green[2] = 0xFFFF;
  fb_.blue[3] = 0xFFFF;
  fb_.red[4] = fb_.green[4] = fb_.blue[4] = 0x8080;
  fb_.Put(0, 0, {0x12, 0x34, 0x00});
  fb_.Put(1, 0, {0x00, 0x00, 0x40});
  const Image image = Snap();
  ASSERT_EQ(image.width, 5);
  ASSERT_EQ(image.height, 2);
  const std::vector<uint8_t> expected = {
      255, 0, 0, 0, 255, 0, 0, 0, 255, 128, 128, 128, 0,   0,   0,
      0,   0, 0, 0, 0,   0, 0, 0, 0,   0,   0,   0,   128, 128, 128};
  EXPECT_EQ(image.rgb, expected);
}

TEST_F(SnapShotFbdev, PannedTruecolourWithWideRows) {
  fb_.SetUp(3, 2, 32, FB_VISUAL_TRUECOLOR);
  fb_.var.xres_virtual = 5;
  fb_.var.yres_virtual = 4;
  fb_.var.xoffset = 2;
  fb_.var.yoffset = 1;
  fb_.SetChannels(16, 8, 8, 8, 0, 8);
  fb_.fix.line_length = 5 * 4 + 12;
  fb_.fix.smem_len = fb_.fix.line_length * 4;
  fb_.memory.assign(fb_.fix.smem_len, 0x77);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 5; ++x)
      fb_.PutPixel(y, x, (x * 50) << 16 | (y * 60) << 8 | 9);
  const Image image = Snap();
  ASSERT_EQ(image.width, 3);
  ASSERT_EQ(image.height, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      const uint8_t *p = &image.rgb[(size_t(y) * 3 + x) * 3];
      EXPECT_EQ(p[0], (x + 2) * 50) << x << "," << y;
      EXPECT_EQ(p[1], (y + 1) * 60) << x << "," << y;
      EXPECT_EQ(p[2], 9) << x << "," << y;
    }
  EXPECT_EQ(fb_.mmaps, 2) << "one per frame: the grab's and the surface's";
}

}  // namespace
}  // namespace ktest
