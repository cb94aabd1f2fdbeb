// The one place where test binaries reach into the platform: a table of
// functions that a testing library installs before main. A shipped library
// has no testing library linked in, so the table stays NULL and every
// question below gets the production answer.
#pragma once

#include "kestrel_testing.h"

namespace kplat {

class Display;

// Accounting of live graphics objects.
enum class LiveKind { kScreenDC, kMemoryDC, kBitmap, kSection };

struct TestSeam {
  bool (*shouldFail)(KTestOp op);
  void (*countLive)(LiveKind kind, int delta);
  Display *(*memoryDisplay)();
};

extern const TestSeam *g_testSeam;

// Counts one call of op and says whether this one is to fail.
inline bool ShouldFail(KTestOp op) {
  return g_testSeam != nullptr && g_testSeam->shouldFail(op);
}

inline void CountLive(LiveKind kind, int delta) {
  if (g_testSeam != nullptr) g_testSeam->countLive(kind, delta);
}

// The screen a test installed, else NULL.
inline Display *InstalledTestScreen() {
  return g_testSeam != nullptr ? g_testSeam->memoryDisplay() : nullptr;
}

}  // namespace kplat
