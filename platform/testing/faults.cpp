// The test hook's table: fault injection, live-object accounting, the
// memory display, fake devices and the X screen's controls, installed before
// main runs.
#include "fakes.h"
#include "testing_seam.h"

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
const KernelCalls *g_fakeKernel = nullptr;
const drm::DrmCalls *g_fakeDrm = nullptr;
int g_shmPolicy = 0;  // x11::ShmPolicy::kAuto
int g_readPath = 0;   // x11::ReadPath::kNone

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

const KernelCalls *FakeKernel() { return g_fakeKernel; }
const drm::DrmCalls *FakeDrm() { return g_fakeDrm; }
int ShmPolicy() { return g_shmPolicy; }
void NoteReadPath(int path) { g_readPath = path; }

const TestHook kHook = {ShouldFailNow, Count,   MemoryDisplayIfInstalled,
                        FakeKernel,    FakeDrm, ShmPolicy,
                        NoteReadPath};

// Before any static object of the library is built, so that even the
// first graphics call is seen.
__attribute__((constructor(101))) void InstallHook() { g_hook = &kHook; }

}  // namespace

void SetFakeKernel(const KernelCalls *calls) { g_fakeKernel = calls; }
void SetFakeDrm(const drm::DrmCalls *calls) { g_fakeDrm = calls; }
void SetX11ShmPolicy(int policy) { g_shmPolicy = policy; }
int LastX11ReadPath() { return g_readPath; }
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
