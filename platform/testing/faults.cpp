#include "faults.h"

namespace kplat {
namespace {

// Plain counters: calls into the platform never overlap (the module makes
// one call at a time), so no atomics are needed.
struct FaultState {
  unsigned calls[KTEST_OP_COUNT];
  unsigned failAt[KTEST_OP_COUNT];  // absolute call number; 0 = never
};
FaultState g_faults;
KTestLiveObjects g_live;

}  // namespace

bool ShouldFail(KTestOp op) {
  if (op < 0 || op >= KTEST_OP_COUNT) return false;
  unsigned n = ++g_faults.calls[op];
  if (g_faults.failAt[op] != 0 && n == g_faults.failAt[op]) {
    g_faults.failAt[op] = 0;
    return true;
  }
  return false;
}

void CountLive(LiveKind kind, int delta) {
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

}  // namespace kplat

extern "C" {

void KTestFailNth(KTestOp op, unsigned n) {
  if (op < 0 || op >= KTEST_OP_COUNT) return;
  kplat::g_faults.failAt[op] = n == 0 ? 0 : kplat::g_faults.calls[op] + n;
}

void KTestResetFaults(void) { kplat::g_faults = kplat::FaultState(); }

unsigned KTestCallCount(KTestOp op) {
  if (op < 0 || op >= KTEST_OP_COUNT) return 0;
  return kplat::g_faults.calls[op];
}

KTestLiveObjects KTestGetLiveObjects(void) { return kplat::g_live; }

}  // extern "C"
