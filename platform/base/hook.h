// The one place where test binaries reach into the platform: a table of
// functions that the testing library (platform/testing/) installs before
// main. The shipped library links no testing library, so the pointer stays
// NULL and every question below gets the production answer.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Platform operations whose n-th call a test can make fail.
typedef enum KTestOp {
  KTEST_OP_GETDC,
  KTEST_OP_CREATECOMPATIBLEDC,
  KTEST_OP_CREATECOMPATIBLEBITMAP,
  KTEST_OP_CREATEDIBSECTION,
  KTEST_OP_MALLOC,  // the heap of the module and the framework
  KTEST_OP_WFOPEN,
  KTEST_OP_DISPLAY_READ,     // the display's image request inside BitBlt
  KTEST_OP_FCLOSE,           // the stream is closed, but EOF is reported
  KTEST_OP_WAYLAND_COPY,     // the compositor refuses an output's copy
  KTEST_OP_WAYLAND_CAPTURE,  // the compositor offers no capture protocol,
                             // as on a desktop without one
  KTEST_OP_COUNT
} KTestOp;

#ifdef __cplusplus
}

namespace kplat {

class Display;
struct KernelCalls;
namespace drm {
struct DrmCalls;
}

// Accounting of live graphics objects.
enum class LiveKind { kScreenDC, kMemoryDC, kBitmap, kSection };

struct TestHook {
  // Counts one call of op and says whether this one is to fail.
  bool (*shouldFail)(KTestOp op);
  void (*countLive)(LiveKind kind, int delta);
  // The screen a test installed (before any other), else NULL.
  Display *(*memoryDisplay)();
  // The kernel calls of the device screens and libdrm's queries, faked from
  // memory, else NULL for the real ones.
  const KernelCalls *(*kernelCalls)();
  const drm::DrmCalls *(*drmCalls)();
  // How the X screen may use shared memory (x11::ShmPolicy), and which way
  // its last read went (x11::ReadPath).
  int (*x11ShmPolicy)();
  void (*x11ReadPath)(int path);
};

extern const TestHook *g_hook;

inline bool ShouldFail(KTestOp op) {
  return g_hook != nullptr && g_hook->shouldFail(op);
}

inline void CountLive(LiveKind kind, int delta) {
  if (g_hook != nullptr) g_hook->countLive(kind, delta);
}

inline Display *InstalledTestScreen() {
  return g_hook != nullptr ? g_hook->memoryDisplay() : nullptr;
}

}  // namespace kplat

#endif
