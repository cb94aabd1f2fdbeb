// Inside the testing library only.
#pragma once

#include "display.h"
#include "hook.h"
#include "kestrel_testing.h"

namespace kplat {
namespace testing {

// The memory display when a test installed one, else NULL.
Display *MemoryDisplayIfInstalled();

}  // namespace testing
}  // namespace kplat
