// Screen reads through a shared memory segment (MIT-SHM): the server writes
// the pixels straight into our memory instead of sending them over the
// socket. The segment is kept between calls and grows when needed.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <xcb/xcb.h>

#include "x11_connection.h"

namespace kplat {
namespace x11 {

enum class ShmResult {
  kDone,         // *data holds the image, rowBytes per row
  kUnavailable,  // no usable shared memory: read over the socket instead
  kFailed,       // the request itself failed (bad rectangle, lost server)
};

ShmResult ShmRead(xcb_connection_t *conn, const ScreenLayout &layout, int x,
                  int y, int w, int h, size_t rowBytes, const uint8_t **data);

// Lets go of the segment; conn, when given and still working, is told to
// detach it first.
void ShmForget(xcb_connection_t *conn);

// Which kinds of segment may be tried (tests exercise each path).
enum class ShmPolicy { kAuto, kSysVOnly, kOff };
void SetShmPolicy(ShmPolicy policy);

}  // namespace x11
}  // namespace kplat
