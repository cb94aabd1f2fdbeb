// The fault sweep, the soak and a forked child on a private X server.
#include <kestrel/kestrel.h>

#include "child.h"
#include "display.h"
#include "module_fixture.h"
#include "soak.h"
#include "sweep.h"
#include "x_scene.h"
#include "xvfb_fixture.h"

namespace {

// The server is up before the fixture counts descriptors, and the
// library's connection to it is closed before they are counted again.
class OnXvfb : public ModuleTest,
               public ::testing::WithParamInterface<const char *> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start(GetParam()));
    setenv("DISPLAY", server_.name().c_str(), 1);
    kplat::CloseDisplays();
    ktest::ServerImage drawn;
    ASSERT_TRUE(ktest::DrawScene(server_.name(), 77, &drawn));
    ModuleTest::SetUp();
  }
  void TearDown() override {
    kplat::CloseDisplays();
    ModuleTest::TearDown();
  }
  ktest::Xvfb server_;
};

TEST_P(OnXvfb, EveryFailedPlatformCallEndsCleanly) {
  const kfault::SweepStats png = kfault::SweepCapture(dir_.path(), "x.png", 0);
  const kfault::SweepStats jpeg =
      kfault::SweepCapture(dir_.path(), "x.jpg", 80);
  EXPECT_GT(png.faultedCalls, 10u);
  EXPECT_GT(jpeg.faultedCalls, 10u);
  EXPECT_LT(png.succeeded * 2, png.faultedCalls);
  EXPECT_LT(jpeg.succeeded * 2, jpeg.faultedCalls);
  kplat::CloseDisplays();
}

TEST_P(OnXvfb, ManyCallsHoldNothingMore) {
  const kfault::SoakResult r =
      kfault::Soak(dir_.path(), kfault::SoakCalls(1000));
  kfault::ExpectHeldNothingMore(r);
}

TEST_P(OnXvfb, ACallInAForkedChildWorks) {
  ASSERT_EQ(SnapShot(Path("parent.png").c_str(), 0), 1);
  const kfault::ChildOutcome c = kfault::RunInChild([&]() -> std::string {
    if (SnapShot(Path("child.png").c_str(), 0) != 1)
      return "PNG in the child failed";
    if (SnapShot(Path("child.jpg").c_str(), 75) != 1)
      return "JPEG in the child failed";
    return "";
  });
  EXPECT_TRUE(c.exited) << c.signal;
  EXPECT_EQ(c.failure, "");
  EXPECT_EQ(c.printed, "");
  EXPECT_EQ(ktest::ReadFile(dir_.File("child.png")),
            ktest::ReadFile(dir_.File("parent.png")));
  // The parent's connection was not disturbed by the child's use.
  ASSERT_EQ(SnapShot(Path("again.png").c_str(), 0), 1);
  EXPECT_EQ(ktest::ReadFile(dir_.File("again.png")),
            ktest::ReadFile(dir_.File("parent.png")));
}

INSTANTIATE_TEST_SUITE_P(Screens, OnXvfb,
                         ::testing::Values("64x48x24", "64x48x16"),
                         [](const auto &info) {
                           return std::string(info.param[6] == '2' ? "Depth24"
                                                                   : "Depth16");
                         });

}  // namespace
