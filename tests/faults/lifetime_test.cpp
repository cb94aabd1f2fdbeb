// A host that calls for years: many captures in a row hold nothing more at
// the end than at the start, and a forked child can capture too.
#include <kestrel/kestrel.h>
#include <stdio.h>

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

}  // namespace
