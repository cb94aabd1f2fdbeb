// The fault sweep on memory displays of every pixel format.
#include "module_fixture.h"
#include "sweep.h"

namespace {

class MemorySweep : public ModuleTest,
                    public ::testing::WithParamInterface<ktest::ScreenFormat> {
};

TEST_P(MemorySweep, EveryFailedPlatformCallEndsCleanly) {
  ktest::Image expected;
  // Odd sizes: neither a multiple of 4 (surface rows) nor of 16 (JPEG units).
  ASSERT_TRUE(ktest::InstallPatternScreen(GetParam(), 33, 17, 9, &expected));
  const kfault::SweepStats png = kfault::SweepCapture(dir_.path(), "f.png", 0);
  const kfault::SweepStats jpeg =
      kfault::SweepCapture(dir_.path(), "f.jpg", 80);
  EXPECT_GT(png.faultedCalls, 10u);
  EXPECT_GT(jpeg.faultedCalls, 10u);
  // Most failures must show: only a few calls cannot matter.
  EXPECT_LT(png.succeeded * 2, png.faultedCalls);
  EXPECT_LT(jpeg.succeeded * 2, jpeg.faultedCalls);
  // The file is what an unfaulted capture of this screen gives.
  ktest::Image got;
  ASSERT_TRUE(ktest::DecodePng(dir_.File("f.png"), &got));
  EXPECT_TRUE(got.rgb == expected.rgb);
  EXPECT_EQ(ktest::ReadFile(dir_.File("f.jpg")),
            ktest::EncodeJpegReference(expected, 80));
}

INSTANTIATE_TEST_SUITE_P(Screens, MemorySweep,
                         ::testing::ValuesIn(ktest::AllScreenFormats()),
                         [](const auto &info) { return info.param.name; });

}  // namespace
