// The wl_shm pixel formats a capture can take, as screen formats.
#pragma once

#include <stdint.h>

#include "display.h"

namespace kplat {
namespace wl {

// The screen format storing pixels as wl_shm format code does (alpha and
// padding bits are ignored); false for a format this platform cannot read.
bool ShmFormat(uint32_t code, PixelFormat *format);

}  // namespace wl
}  // namespace kplat
