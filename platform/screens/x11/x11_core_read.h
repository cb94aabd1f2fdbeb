// Screen reads over the socket (GetImage), for servers without usable
// shared memory.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <xcb/xcb.h>

#include "x11_connection.h"

namespace kplat {
namespace x11 {

// Reads the rectangle in bands of rows that fit the server's maximum request
// length and copies each band into dst as it arrives.
bool CoreRead(xcb_connection_t *conn, const ScreenLayout &layout, int x, int y,
              int w, int h, uint8_t *dst, ptrdiff_t dstStride);

}  // namespace x11
}  // namespace kplat
