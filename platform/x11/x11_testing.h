// Hooks for tests that link the X display's objects statically.
#pragma once

#include "x11_shm.h"

namespace kplat {
namespace x11 {

// How the last successful ReadPixels got its pixels.
enum class ReadPath { kNone, kSharedMemory, kSocket };
ReadPath LastReadPath();

}  // namespace x11
}  // namespace kplat
