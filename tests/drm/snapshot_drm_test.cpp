// SnapShot from end to end on a DRM card faked behind the seams: with no
// desktop screen named, the scanout is the screen and the PNG holds the
// CRTC's view of it exactly; nothing of the card is held afterwards.
#include <drm_fourcc.h>
#include <gtest/gtest.h>
#include <kestrel/kestrel.h>
#include <stdlib.h>

#include <string>

#include "fake_drm.h"
#include "images.h"
#include "test_support.h"

namespace ktest {
namespace {

TEST(SnapShotDrm, WritesTheViewOfTheScanout) {
  std::string saved[2];
  bool wasSet[2];
  const char *names[2] = {"DISPLAY", "WAYLAND_DISPLAY"};
  for (int i = 0; i < 2; ++i) {
    const char *v = getenv(names[i]);
    wasSet[i] = v != nullptr;
    if (v != nullptr) saved[i] = v;
    unsetenv(names[i]);
  }
  const int fds = CountOpenFds();
  FakeDrm drm;
  drm.cards.resize(2);
  drm.cards[0].exists = false;
  drm.cards[1].fbs.push_back(
      FakeDrm::Fb(0x42, 10, 8, DRM_FORMAT_XRGB8888, 10 * 4 + 16, 256));
  drm.cards[1].crtcs.push_back({77, 0x42, 3, 2, 4, 5, true});
  InstallFakeDrm(&drm);
  TempDir dir;
  const std::u16string path = Utf16(dir.File("drm.png"));
  EXPECT_EQ(SnapShot(path.c_str(), 0), 1);
  Image image;
  ASSERT_TRUE(DecodePng(dir.File("drm.png"), &image));
  ASSERT_EQ(image.width, 4);
  ASSERT_EQ(image.height, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 4; ++x) {
      const uint8_t *p = &image.rgb[(size_t(y) * 4 + x) * 3];
      // Pixel values are y << 16 | x << 8 | 0x42 on the framebuffer.
      EXPECT_EQ(p[0], y + 2) << x << "," << y;
      EXPECT_EQ(p[1], x + 3) << x << "," << y;
      EXPECT_EQ(p[2], 0x42) << x << "," << y;
    }
  EXPECT_EQ(drm.openFds, 0);
  EXPECT_EQ(drm.liveMappings, 0);
  EXPECT_EQ(drm.liveAllocations, 0);
  EXPECT_TRUE(drm.liveHandles.empty());
  UninstallFakeDrm();
  EXPECT_EQ(CountOpenFds(), fds);
  for (int i = 0; i < 2; ++i)
    if (wasSet[i]) setenv(names[i], saved[i].c_str(), 1);
}

}  // namespace
}  // namespace ktest
