// Inside the platform: each fault-injectable operation asks here first.
#pragma once

#include "kestrel_testing.h"

namespace kplat {

// Counts one call of op and says whether this one is to fail.
bool ShouldFail(KTestOp op);

// Accounting of live graphics objects.
enum class LiveKind { kScreenDC, kMemoryDC, kBitmap, kSection };
void CountLive(LiveKind kind, int delta);

}  // namespace kplat
