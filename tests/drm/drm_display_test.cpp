// The DRM screen against cards faked behind the kernel and libdrm seams.
#include "drm_display.h"

#include <drm_fourcc.h>
#include <gtest/gtest.h>
#include <string.h>

#include "backends.h"
#include "fake_drm.h"
#include "test_support.h"

namespace ktest {
namespace {

class DrmTest : public ::testing::Test {
 protected:
  void SetUp() override { fds_ = CountOpenFds(); }
  void TearDown() override {
    display_.EndFrame();
    if (installed_) {
      EXPECT_EQ(drm_.openFds, 0);
      EXPECT_EQ(drm_.liveMappings, 0);
      EXPECT_EQ(drm_.liveAllocations, 0);
      EXPECT_TRUE(drm_.liveHandles.empty()) << "GEM handles left open";
      UninstallFakeDrm();
    }
    EXPECT_EQ(CountOpenFds(), fds_);
  }
  void Install() {
    InstallFakeDrm(&drm_);
    installed_ = true;
  }
  // A card with one lit CRTC showing a 6 x 4 view at (2, 1) of an 8 x 6
  // framebuffer with wide rows, placed past the start of its object.
  FakeCard &OneScreen(uint32_t fourcc = DRM_FORMAT_XRGB8888) {
    drm_.cards.resize(1);
    FakeCard &card = drm_.cards[0];
    card.fbs.push_back(FakeDrm::Fb(7, 8, 6, fourcc, 8 * 4 + 64, 128));
    card.crtcs.push_back({41, 7, 2, 1, 6, 4, true});
    return card;
  }
  // Reads the whole frame; checks it against the framebuffer's pixels.
  void ExpectScreen(const FakeDrmFb &fb, uint32_t x0, uint32_t y0) {
    kplat::Frame frame;
    ASSERT_TRUE(display_.BeginFrame(&frame));
    ASSERT_EQ(frame.format.bitsPerPixel, 32);
    std::vector<uint32_t> px(size_t(frame.width) * frame.height);
    ASSERT_TRUE(display_.ReadPixels(frame, 0, 0, frame.width, frame.height,
                                    reinterpret_cast<uint8_t *>(px.data()),
                                    frame.width * 4));
    for (int y = 0; y < frame.height; ++y)
      for (int x = 0; x < frame.width; ++x)
        ASSERT_EQ(px[size_t(y) * frame.width + x],
                  FakeDrm::Pixel(fb, x0 + x, y0 + y))
            << x << "," << y;
    display_.EndFrame();
  }

  FakeDrm drm_;
  kplat::drm::DrmDisplay display_;
  bool installed_ = false;
  int fds_ = 0;
};

TEST_F(DrmTest, ReadsTheViewOfTheScanoutThroughADumbMap) {
  OneScreen();
  Install();
  kplat::Frame frame;
  ASSERT_TRUE(display_.BeginFrame(&frame));
  EXPECT_EQ(frame.width, 6);
  EXPECT_EQ(frame.height, 4);
  EXPECT_EQ(frame.format.redMask, 0xFF0000u);
  display_.EndFrame();
  ExpectScreen(drm_.cards[0].fbs[0], 2, 1);
  EXPECT_GT(drm_.dumbMaps, 0);
  EXPECT_EQ(drm_.primeExports, 0);
  EXPECT_EQ(drm_.syncStarts, 0);
}

TEST_F(DrmTest, ReadsAPartIntoABottomUpBuffer) {
  OneScreen();
  Install();
  kplat::Frame frame;
  ASSERT_TRUE(display_.BeginFrame(&frame));
  uint32_t out[2][3] = {};
  ASSERT_TRUE(display_.ReadPixels(frame, 3, 2, 3, 2,
                                  reinterpret_cast<uint8_t *>(out[1]), -12));
  const FakeDrmFb &fb = drm_.cards[0].fbs[0];
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(out[1 - r][c], FakeDrm::Pixel(fb, 2 + 3 + c, 1 + 2 + r));
  EXPECT_FALSE(display_.ReadPixels(frame, 4, 0, 3, 1,
                                   reinterpret_cast<uint8_t *>(out[0]), 12));
}

TEST_F(DrmTest, Rgb565IsCopiedAsItIs) {
  drm_.cards.resize(1);
  FakeDrmFb fb = FakeDrm::Fb(3, 2, 1, DRM_FORMAT_RGB565, 64, 0);
  const uint8_t pixels[] = {0x1F, 0xF8, 0xE0, 0x07};
  memcpy(fb.memory.data(), pixels, 4);
  drm_.cards[0].fbs.push_back(fb);
  drm_.cards[0].crtcs.push_back({5, 3, 0, 0, 2, 1, true});
  Install();
  kplat::Frame frame;
  ASSERT_TRUE(display_.BeginFrame(&frame));
  EXPECT_EQ(frame.format.bitsPerPixel, 16);
  EXPECT_EQ(frame.format.greenMask, 0x7E0u);
  uint8_t out[4] = {};
  ASSERT_TRUE(display_.ReadPixels(frame, 0, 0, 2, 1, out, 4));
  EXPECT_EQ(memcmp(out, pixels, 4), 0);
}

TEST_F(DrmTest, MapsAPrimeExportWhenTheDumbMapIsRefused) {
  OneScreen().dumbMap = false;
  Install();
  ExpectScreen(drm_.cards[0].fbs[0], 2, 1);
  EXPECT_EQ(drm_.primeExports, 1);
  EXPECT_EQ(drm_.syncStarts, 1) << "the read is bracketed";
  EXPECT_EQ(drm_.syncEnds, 1);
}

TEST_F(DrmTest, FallsBackToTheOlderFramebufferQuery) {
  OneScreen().hasFb2 = false;
  Install();
  FakeDrmFb &fb = drm_.cards[0].fbs[0];
  fb = FakeDrm::Fb(7, 8, 6, DRM_FORMAT_XRGB8888, 8 * 4 + 64, 0);
  drm_.Sync();
  ExpectScreen(fb, 2, 1);
  EXPECT_EQ(drm_.fb2Queries, 0);
  EXPECT_EQ(drm_.fbQueries, 1);
}

TEST_F(DrmTest, TheLowestLitCrtcIsTheScreen) {
  drm_.cards.resize(1);
  FakeCard &card = drm_.cards[0];
  card.fbs.push_back(FakeDrm::Fb(1, 4, 4, DRM_FORMAT_XRGB8888, 16, 0));
  card.fbs.push_back(FakeDrm::Fb(2, 4, 4, DRM_FORMAT_XRGB8888, 16, 0));
  card.crtcs.push_back({60, 1, 0, 0, 4, 4, true});
  card.crtcs.push_back({30, 2, 0, 0, 4, 4, false});  // off
  card.crtcs.push_back({45, 2, 1, 1, 3, 3, true});
  card.crtcs.push_back({20, 0, 0, 0, 4, 4, true});  // no framebuffer
  Install();
  ExpectScreen(card.fbs[1], 1, 1);
}

TEST_F(DrmTest, TheFirstCardThatLightsAScreenIsUsed) {
  drm_.cards.resize(4);
  drm_.cards[0].exists = false;
  drm_.cards[1].crtcs.push_back({9, 0, 0, 0, 0, 0, false});  // dark
  drm_.cards[2].fbs.push_back(FakeDrm::Fb(4, 2, 2, DRM_FORMAT_XRGB8888, 8, 0));
  drm_.cards[2].crtcs.push_back({9, 4, 0, 0, 2, 2, true});
  drm_.cards[3] = drm_.cards[2];
  Install();
  ExpectScreen(drm_.cards[2].fbs[0], 0, 0);
  EXPECT_EQ(drm_.opened,
            (std::vector<std::string>{"/dev/dri/card0", "/dev/dri/card1",
                                      "/dev/dri/card2"}));
}

TEST_F(DrmTest, RefusesWithoutHandlesOrWithTiledLayoutsHoldingNothing) {
  struct Case {
    const char *what;
    void (*change)(FakeCard *);
  };
  const Case cases[] = {
      {"not master", [](FakeCard *c) { c->master = false; }},
      {"not master, older query",
       [](FakeCard *c) {
         c->master = false;
         c->hasFb2 = false;
       }},
      {"tiled",
       [](FakeCard *c) {
         c->fbs[0].modifiers = true;
         c->fbs[0].modifier = I915_FORMAT_MOD_X_TILED;
       }},
      {"compressed, two planes",
       [](FakeCard *c) {
         c->fbs[0].modifiers = true;
         c->fbs[0].modifier =
             DRM_FORMAT_MOD_ARM_AFBC(AFBC_FORMAT_MOD_BLOCK_SIZE_16x16);
         c->fbs[0].planes = 2;
       }},
      {"packed 24-bit",
       [](FakeCard *c) { c->fbs[0].fourcc = DRM_FORMAT_RGB888; }},
      {"unmappable",
       [](FakeCard *c) {
         c->dumbMap = false;
         c->prime = false;
       }},
      {"view outside the framebuffer", [](FakeCard *c) { c->crtcs[0].x = 3; }},
  };
  for (const Case &c : cases) {
    drm_ = FakeDrm();
    OneScreen();
    c.change(&drm_.cards[0]);
    drm_.cards.push_back(drm_.cards[0]);  // a later card is not tried
    drm_.cards[1].master = true;
    Install();
    kplat::Frame frame;
    EXPECT_FALSE(display_.BeginFrame(&frame)) << c.what;
    EXPECT_EQ(kplat::kDrmBackend.open(), nullptr) << c.what;
    EXPECT_EQ(drm_.openFds, 0) << c.what;
    EXPECT_EQ(drm_.liveMappings, 0) << c.what;
    EXPECT_EQ(drm_.liveAllocations, 0) << c.what;
    EXPECT_TRUE(drm_.liveHandles.empty()) << c.what;
    EXPECT_EQ(drm_.opened.back(), "/dev/dri/card0") << c.what;
    UninstallFakeDrm();
    installed_ = false;
  }
}

TEST_F(DrmTest, HoldsNothingBetweenFrames) {
  OneScreen().dumbMap = false;
  Install();
  kplat::Frame frame;
  ASSERT_TRUE(display_.BeginFrame(&frame));
  EXPECT_EQ(drm_.openFds, 2);  // the card and the export
  EXPECT_EQ(drm_.liveMappings, 1);
  EXPECT_EQ(drm_.liveHandles.size(), 1u);
  display_.EndFrame();
  EXPECT_EQ(drm_.openFds, 0);
  EXPECT_EQ(drm_.liveMappings, 0);
  EXPECT_TRUE(drm_.liveHandles.empty());
  EXPECT_NE(kplat::kDrmBackend.open(), nullptr);
  EXPECT_EQ(drm_.openFds, 0);
  EXPECT_EQ(drm_.handlesGiven, 2);
}

TEST_F(DrmTest, FollowsAPageFlipThatKeepsTheFrame) {
  FakeCard &card = OneScreen();
  card.fbs.push_back(FakeDrm::Fb(8, 8, 6, DRM_FORMAT_XRGB8888, 8 * 4, 0));
  card.fbs.push_back(FakeDrm::Fb(9, 8, 6, DRM_FORMAT_RGB565, 8 * 2, 0));
  Install();
  kplat::Frame frame;
  ASSERT_TRUE(display_.BeginFrame(&frame));
  card.crtcs[0].fbId = 8;
  uint32_t px = 0;
  ASSERT_TRUE(display_.ReadPixels(frame, 0, 0, 1, 1,
                                  reinterpret_cast<uint8_t *>(&px), 4));
  EXPECT_EQ(px, FakeDrm::Pixel(card.fbs[1], 2, 1));
  EXPECT_EQ(drm_.liveHandles.size(), 1u) << "the old buffer is let go";
  EXPECT_EQ(drm_.liveMappings, 1);

  card.crtcs[0].fbId = 9;  // another format: the frame is stale
  EXPECT_FALSE(display_.ReadPixels(frame, 0, 0, 1, 1,
                                   reinterpret_cast<uint8_t *>(&px), 4));
  card.crtcs[0].fbId = 8;
  card.crtcs[0].width = 5;  // another size
  EXPECT_FALSE(display_.ReadPixels(frame, 0, 0, 1, 1,
                                   reinterpret_cast<uint8_t *>(&px), 4));
  card.crtcs[0].width = 6;
  card.crtcs[0].modeValid = false;  // switched off
  EXPECT_FALSE(display_.ReadPixels(frame, 0, 0, 1, 1,
                                   reinterpret_cast<uint8_t *>(&px), 4));
}

}  // namespace
}  // namespace ktest
