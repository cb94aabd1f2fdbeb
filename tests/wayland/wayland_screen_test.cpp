// The Wayland screen against headless sway, with grim as the second
// opinion: layouts, rotation, scale.
#include <gtest/gtest.h>

#include "sway_test_fixture.h"

namespace ktest {
namespace {

class WaylandScreenTest : public SwayTest {};

TEST_F(WaylandScreenTest, OneOutputShowsExactlyWhatTheCompositorShows) {
  StartSway();
  const Image pattern = Pattern(640, 480, 1);
  ShowImage("HEADLESS-1", pattern);
  Image shot;
  ASSERT_TRUE(WaitForGrim(&shot, [&](const Image &s) {
    return FirstDifference(s, pattern).empty();
  })) << FirstDifference(shot, pattern);

  Capture capture;
  ASSERT_TRUE(CaptureWayland(&capture));
  EXPECT_EQ(capture.frame.width, 640);
  EXPECT_EQ(capture.frame.height, 480);
  EXPECT_EQ(FirstDifference(capture.image, pattern), "");
}

}  // namespace
}  // namespace ktest
