// A host that calls for years: many captures in a row hold nothing more at
// the end than at the start, and a forked child can capture too.
#include "lifetime.h"

#include <kestrel/kestrel.h>
#include <stdio.h>

#include "afxwin.h"
#include "child.h"
#include "module_fixture.h"
#include "soak.h"

namespace {

class Lifetime : public ModuleTest {};

TEST_F(Lifetime, ManyCallsOnAMemoryDisplayHoldNothingMore) {
  ktest::Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[4], 64, 48,
                                          8, &expected));
  const kfault::SoakResult r =
      kfault::Soak(dir_.path(), kfault::SoakCalls(1000));
  kfault::ExpectHeldNothingMore(r);
  const KTestLiveObjects live = KTestGetLiveObjects();
  EXPECT_EQ(live.screenDCs + live.memoryDCs + live.bitmaps + live.sections, 0);
}

TEST_F(Lifetime, ACallInAForkedChildWorksAndLeavesTheParentWhole) {
  ktest::Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[1], 20, 10,
                                          2, &expected));
  ASSERT_EQ(SnapShot(Path("parent.jpg").c_str(), 70), 1);
  const kfault::ChildOutcome c = kfault::RunInChild([&]() -> std::string {
    if (SnapShot(Path("child.jpg").c_str(), 70) != 1)
      return "JPEG in the child failed";
    if (SnapShot(Path("child.png").c_str(), 0) != 1)
      return "PNG in the child failed";
    return "";
  });
  EXPECT_TRUE(c.exited);
  EXPECT_EQ(c.failure, "");
  EXPECT_EQ(c.printed, "");
  EXPECT_EQ(ktest::ReadFile(dir_.File("child.jpg")),
            ktest::EncodeJpegReference(expected, 70));
  ktest::Image got;
  ASSERT_TRUE(ktest::DecodePng(dir_.File("child.png"), &got));
  EXPECT_EQ(got.rgb, expected.rgb);
  EXPECT_EQ(SnapShot(Path("parent2.jpg").c_str(), 70), 1);
  EXPECT_EQ(ktest::ReadFile(dir_.File("parent2.jpg")),
            ktest::ReadFile(dir_.File("parent.jpg")));
}

// The unload sequence, run early in a child: the application is detached,
// no screen is served any more (a late call fails instead of reopening
// one), and no handle made before it stays valid.
TEST_F(Lifetime, ShutDownDetachesThenEndsScreensAndHandles) {
  ktest::Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[4], 16, 8,
                                          2, &expected));
  const kfault::ChildOutcome c = kfault::RunInChild([&]() -> std::string {
    if (SnapShot(Path("before.png").c_str(), 0) != 1) return "no capture";
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
    ReleaseDC(nullptr, screen);
    if (bitmap == nullptr || AfxGetApp()->m_hInstance == nullptr)
      return "not set up";
    kplat::ShutDownModule();
    if (AfxGetApp()->m_hInstance != nullptr) return "still attached";
    if (GetDC(nullptr) != nullptr) return "a screen after shutdown";
    if (DeleteObject(bitmap)) return "a handle outlived the table";
    if (SnapShot(Path("late.png").c_str(), 0) != 0) return "a late capture";
    return "";
  });
  EXPECT_TRUE(c.exited);
  EXPECT_EQ(c.failure, "");
  EXPECT_EQ(c.printed, "");
}

}  // namespace
