#include "sweep.h"

#include <gtest/gtest.h>
#include <kestrel/kestrel.h>
#include <malloc.h>

#include <vector>

#include "kestrel_testing.h"
#include "status_allowed.h"
#include "test_support.h"

namespace kfault {
namespace {

const char *const kOpNames[KTEST_OP_COUNT] = {"GetDC",
                                              "CreateCompatibleDC",
                                              "CreateCompatibleBitmap",
                                              "CreateDIBSection",
                                              "malloc",
                                              "_wfopen",
                                              "display read",
                                              "fclose",
                                              "Wayland copy",
                                              "Wayland capture"};

int LiveObjects() {
  const KTestLiveObjects live = KTestGetLiveObjects();
  return live.screenDCs + live.memoryDCs + live.bitmaps + live.sections;
}

// The C library's malloc hands out a free block whole when what would be
// left of it is smaller than its smallest block, so with the same blocks
// alive the bytes in use may differ by that remainder: up to
// 2 * sizeof(size_t) (8 bytes on 32-bit ARM, where it shows). A block kept
// adds at least the smallest block, 4 * sizeof(size_t).
bool SameHeapInUse(size_t a, size_t b) {
  return (a > b ? a - b : b - a) <= 2 * sizeof(size_t);
}

}  // namespace

SweepStats SweepCapture(const std::string &dir, const std::string &name,
                        int quality) {
  SweepStats stats;
  const std::string file = dir + "/" + name;
  const std::u16string path = ktest::Utf16(file);
  const std::u16string elsewhere = ktest::Utf16(dir + "/missing/x.jpg");

  // A few calls first: the platform sets up its connection and buffers on
  // first use, and those stay for the next calls.
  // So do the checks' own helpers.
  for (int i = 0; i < 3; ++i) {
    SnapShot(elsewhere.c_str(), 75);
    SnapShot(path.c_str(), quality);
    ktest::CountOpenFds();
    ktest::StatusText();
    ktest::ReadFile(file);
    remove(file.c_str());
  }
  KTestResetFaults();
  EXPECT_EQ(SnapShot(path.c_str(), quality), 1) << "unfaulted " << name;
  const std::vector<uint8_t> reference = ktest::ReadFile(file);
  unsigned counts[KTEST_OP_COUNT];
  for (int op = 0; op < KTEST_OP_COUNT; ++op)
    counts[op] = KTestCallCount(KTestOp(op));
  EXPECT_GT(counts[KTEST_OP_MALLOC], 0u);

  for (int op = 0; op < KTEST_OP_COUNT; ++op) {
    for (unsigned n = 1; n <= counts[op]; ++n) {
      const std::string where =
          name + ": " + kOpNames[op] + " call " + std::to_string(n);
      // A PNG call must leave any status text alone; give it one to keep.
      if (quality < 1) {
        EXPECT_EQ(SnapShot(elsewhere.c_str(), 75), 0);
      }
      const std::string statusBefore = ktest::StatusText();
      remove(file.c_str());
      const int fds = ktest::CountOpenFds();
      const int objects = LiveObjects();

      KTestResetFaults();
      KTestFailNth(KTestOp(op), n);
      const size_t heap = mallinfo2().uordblks;
      const int r = SnapShot(path.c_str(), quality);
      KTestResetFaults();
      ++stats.faultedCalls;
      {
        // Scoped, so that nothing built here is alive at the heap count.
        EXPECT_TRUE(r == 0 || r == 1) << where << " gave " << r;
        EXPECT_EQ(LiveObjects(), objects)
            << where << ": graphics objects left alive";
        EXPECT_EQ(ktest::CountOpenFds(), fds)
            << where << ": descriptor left open";
        const std::string status = ktest::StatusText();
        if (quality < 1) {
          EXPECT_EQ(status, statusBefore)
              << where << ": PNG call changed the status text";
        } else {
          EXPECT_TRUE(JpegStatusAllowed(status, statusBefore, file))
              << where << ": " << status;
        }
        if (r == 1) {
          ++stats.succeeded;
          EXPECT_TRUE(ktest::ReadFile(file) == reference)
              << where << ": 1 with a wrong file";
          if (quality >= 1) {
            EXPECT_EQ(status, "") << where;
          }
        }
      }
      // The next, unfaulted call is whole. It also puts the status text
      // back as it was (empty after JPEG, untouched by PNG), so the heap
      // compares like with like: a message held is not a leak.
      const int next = SnapShot(path.c_str(), quality);
      const size_t heapAfter = mallinfo2().uordblks;
      EXPECT_TRUE(SameHeapInUse(heapAfter, heap))
          << where << ": heap in use changed from " << heap << " to "
          << heapAfter;
      EXPECT_EQ(next, 1) << "after " << where;
      EXPECT_TRUE(ktest::ReadFile(file) == reference) << "after " << where;
    }
  }
  return stats;
}

}  // namespace kfault
