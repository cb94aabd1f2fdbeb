// Calls that overlap, from two threads: each either runs alone or is turned
// away at once with 0; none disturbs the other.
#include <kestrel/kestrel.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "module_fixture.h"

namespace {

struct Tally {
  std::atomic<int> written{0};
  int refused = 0;
  int wrong = 0;  // a result other than 0 or 1, or a file unlike the screen
};

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

class OverlapTest : public ModuleTest {};

TEST_F(OverlapTest, TwoThreadsCallingAtOnceGetWholeFilesOrZero) {
  ktest::Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[4], 96, 64,
                                          7, &expected));
  std::atomic<bool> stop{false};
  std::atomic<int> refusals{0};
  Tally a, b;
  auto hammer = [&](const std::string &name, Tally *t, unsigned seed) {
    const std::u16string path = Path(name);
    const double end = Now() + 20;
    // Until each thread has written files and calls were turned away (or
    // the time is up: the checks below then fail). Uneven pauses between
    // calls let either thread find the other in the middle of a call.
    for (int i = 0;
         !stop && Now() < end &&
         (i < 200 || refusals < 10 || a.written < 5 || b.written < 5);
         ++i) {
      seed = seed * 1103515245u + 12345u;
      usleep((seed >> 16) % 400);
      const int r = SnapShot(path.c_str(), 0);
      if (r == 0) {
        if (errno != EBUSY) ++t->wrong;
        ++t->refused;
        ++refusals;
        continue;
      }
      ktest::Image got;
      if (r != 1 || !ktest::DecodePng(dir_.File(name), &got) ||
          got.rgb != expected.rgb) {
        ++t->wrong;
        stop = true;
        continue;
      }
      ++t->written;
    }
  };
  std::thread other(hammer, "a.png", &a, 1u);
  hammer("b.png", &b, 2u);
  other.join();
  EXPECT_EQ(a.wrong + b.wrong, 0);
  EXPECT_GT(a.written, 0);
  EXPECT_GT(b.written, 0);
  EXPECT_GE(a.refused + b.refused, 10) << "the calls never overlapped";
  // Nothing of a refused call lingers: a lone call afterwards still works.
  ASSERT_EQ(SnapShot(Path("c.png").c_str(), 0), 1);
}

}  // namespace
