// The X screen's test controls, in its own types.
#pragma once

#include "fakes.h"
#include "x11_shm.h"

namespace kplat {
namespace x11 {

inline ReadPath LastReadPath() { return ReadPath(testing::LastX11ReadPath()); }
inline void SetShmPolicy(ShmPolicy policy) {
  testing::SetX11ShmPolicy(int(policy));
}

}  // namespace x11
}  // namespace kplat
