// What the X display records for tests that link its objects statically.
#pragma once

#include "x11_shm.h"

namespace kplat {
namespace x11 {

// How the last successful ReadPixels got its pixels.
// kInPlace: the server wrote straight into a bitmap's lent pixels.
enum class ReadPath { kNone, kSharedMemory, kInPlace, kSocket };
extern ReadPath g_lastReadPath;

inline ReadPath LastReadPath() { return g_lastReadPath; }
inline void SetShmPolicy(ShmPolicy policy) { g_shmPolicy = policy; }

}  // namespace x11
}  // namespace kplat
