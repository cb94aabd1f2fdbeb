// Fault injection and live-object accounting for test binaries, installed
// into the platform's seam before main runs.
#include "testing/testing_seam.h"

namespace kplat {
namespace testing {
namespace {

// Plain counters: calls into the platform never overlap (the module makes
// one call at a time), so no atomics are needed.
struct FaultState {
  unsigned calls[KTEST_OP_COUNT];
  unsigned failAt[KTEST_OP_COUNT];  // absolute call number; 0 = never
};
FaultState g_faults;
KTestLiveObjects g_live;

bool ShouldFailNow(KTestOp op) {
  if (op < 0 || op >= KTEST_OP_COUNT) return false;
  unsigned n = ++g_faults.calls[op];
  if (g_faults.failAt[op] != 0 && n == g_faults.failAt[op]) {
    g_faults.failAt[op] = 0;
    return true;
  }
  return false;
}

void Count(LiveKind kind, int delta) {
  switch (kind) {
    case LiveKind::kScreenDC:
      g_live.screenDCs += delta;
      break;
    case LiveKind::kMemoryDC:
      g_live.memoryDCs += delta;
      break;
    case LiveKind::kBitmap:
      g_live.bitmaps += delta;
      break;
    case LiveKind::kSection:
      g_live.sections += delta;
      break;
  }
}

const TestSeam kSeam = {ShouldFailNow, Count, MemoryDisplayIfInstalled};

// Before any static object of the library is built, so that even the
// first graphics call is seen.
__attribute__((constructor(101))) void InstallSeam() { g_testSeam = &kSeam; }

}  // namespace
}  // namespace testing
}  // namespace kplat

extern "C" {

void KTestFailNth(KTestOp op, unsigned n) {
  using kplat::testing::g_faults;
  if (op < 0 || op >= KTEST_OP_COUNT) return;
  g_faults.failAt[op] = n == 0 ? 0 : g_faults.calls[op] + n;
}

void KTestResetFaults(void) {
  kplat::testing::g_faults = kplat::testing::FaultState();
}

unsigned KTestCallCount(KTestOp op) {
  if (op < 0 || op >= KTEST_OP_COUNT) return 0;
  return kplat::testing::g_faults.calls[op];
}

KTestLiveObjects KTestGetLiveObjects(void) { return kplat::testing::g_live; }

}  // extern "C"
