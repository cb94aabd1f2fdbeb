// Screen reads through a shared memory segment (MIT-SHM): the server writes
// the pixels straight into our memory instead of sending them over the
// socket. The segment is kept between calls and grows when needed.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <xcb/xcb.h>

#include "hook.h"
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

// A second segment lent out as the pixel memory of one screen-sized bitmap,
// so that reads into that bitmap need no copy. NULL when shared memory is
// not usable or the segment is already lent. Kept between calls.
uint8_t *ShmLend(xcb_connection_t *conn, const ScreenLayout &layout,
                 size_t size);

// Takes the lent memory back; false when pixels is not what was lent.
// conn may be NULL when there is no working connection.
bool ShmGiveBack(xcb_connection_t *conn, uint8_t *pixels);

// Whether pixels is the lent memory, currently borrowed.
bool ShmIsLent(const uint8_t *pixels);

// Has the server write the rectangle straight into dst when dst lies in the
// borrowed segment with rows rowBytes apart; kUnavailable when it cannot
// (the caller then reads the usual way).
ShmResult ShmReadInPlace(xcb_connection_t *conn, const ScreenLayout &layout,
                         int x, int y, int w, int h, size_t rowBytes,
                         uint8_t *dst, ptrdiff_t dstStride);

// Lets go of the staging segment, and of the lent one unless it is
// borrowed (then it stays mapped for its bitmap, unknown to any server);
// conn, when given and still working, is told to detach them first.
void ShmForget(xcb_connection_t *conn);

// In a fork child: a borrowed lent segment becomes private memory at the
// same address, an idle one is unmapped, so no bitmap shares pixels with
// the parent.
void ShmAfterFork();

// At unload: everything goes, borrowed or not.
void ShmReleaseAll(xcb_connection_t *conn);

// Which kinds of segment may be tried: all, unless a test asks for fewer
// to exercise each path.
enum class ShmPolicy { kAuto, kSysVOnly, kOff };

inline ShmPolicy CurrentShmPolicy() {
  return g_hook != nullptr ? ShmPolicy(g_hook->x11ShmPolicy())
                           : ShmPolicy::kAuto;
}

// How a successful ReadPixels got its pixels, told to a test's hook.
// kInPlace: the server wrote straight into a bitmap's lent pixels.
enum class ReadPath { kNone, kSharedMemory, kInPlace, kSocket };

inline void NoteReadPath(ReadPath path) {
  if (g_hook != nullptr) g_hook->x11ReadPath(int(path));
}

}  // namespace x11
}  // namespace kplat
