#include "x11_shm.h"

#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/shm.h>

#include "shared_memory.h"
#include "x11_wait.h"

namespace kplat {
namespace x11 {

namespace {

// kPrivate: a lent segment a fork child made its own (plain anonymous
// memory, no longer known to any server).
enum class SegmentKind { kNone, kMemfd, kSysV, kPrivate };

struct Segment {
  SegmentKind kind;
  bool attached;  // known to the server of the live connection as seg
  xcb_shm_seg_t seg;
  uint8_t *addr;
  size_t size;
};

struct ShmState {
  bool probed;     // the extension was asked about on this connection
  bool usable;     // false once shared memory proved unusable
  bool fdPassing;  // MIT-SHM 1.2 and a local socket
  // Reads are staged here and copied out, unless they go straight into
  // the lent segment, which holds a bitmap's pixels while borrowed.
  Segment staging;
  Segment lent;
  bool lentBorrowed;
};
ShmState g_shm;

void ReleaseLocal(Segment *s) {
  if (s->kind == SegmentKind::kMemfd || s->kind == SegmentKind::kPrivate)
    munmap(s->addr, s->size);
  if (s->kind == SegmentKind::kSysV) shmdt(s->addr);
  s->kind = SegmentKind::kNone;
  s->attached = false;
  s->addr = nullptr;
  s->size = 0;
}

// Tells the server (when conn is given and working) to let go of the
// segment; our mapping stays.
void DetachFromServer(xcb_connection_t *conn, Segment *s) {
  if (s->attached && conn && !StaleConnection(conn)) {
    xcb_shm_detach(conn, s->seg);
    xcb_flush(conn);
    FreeId(conn, s->seg);
  }
  s->attached = false;
}

void Detach(xcb_connection_t *conn, Segment *s) {
  if (s->kind == SegmentKind::kNone) return;
  DetachFromServer(conn, s);
  ReleaseLocal(s);
}

bool IsLocalSocket(xcb_connection_t *conn) {
  struct sockaddr_storage addr;
  socklen_t len = sizeof(addr);
  if (getsockname(xcb_get_file_descriptor(conn),
                  reinterpret_cast<struct sockaddr *>(&addr), &len) != 0)
    return false;
  return addr.ss_family == AF_UNIX;
}

void Probe(xcb_connection_t *conn) {
  g_shm.probed = true;
  g_shm.usable = false;
  g_shm.fdPassing = false;
  const ShmPolicy policy = CurrentShmPolicy();
  if (policy == ShmPolicy::kOff) return;
  // Asked for without waiting, then waited for with the bound: the answer
  // is at hand when xcb_get_extension_data looks.
  xcb_prefetch_extension_data(conn, &xcb_shm_id);
  if (!SyncWithin(conn)) return;
  const xcb_query_extension_reply_t *ext =
      xcb_get_extension_data(conn, &xcb_shm_id);
  if (!ext || !ext->present) return;
  xcb_shm_query_version_reply_t *version =
      ReplyWithin<xcb_shm_query_version_reply_t>(conn,
                                                 xcb_shm_query_version(conn));
  if (!version) return;
  g_shm.usable = true;
  g_shm.fdPassing =
      policy == ShmPolicy::kAuto &&
      (version->major_version > 1 ||
       (version->major_version == 1 && version->minor_version >= 2)) &&
      IsLocalSocket(conn);
  free(version);
}

bool AttachMemfd(xcb_connection_t *conn, size_t size, Segment *s) {
  int fd = -1;
  uint8_t *addr = nullptr;
  if (!MapSharedMemfd(size, &fd, &addr)) return false;
  xcb_shm_seg_t seg = 0;
  if (!NewId(conn, &seg)) {
    close(fd);
    munmap(addr, size);
    return false;
  }
  // xcb takes the descriptor and closes it once sent; the mapping stays.
  if (!CheckWithin(conn, xcb_shm_attach_fd_checked(conn, seg, fd, 0))) {
    FreeId(conn, seg);
    munmap(addr, size);
    return false;
  }
  s->kind = SegmentKind::kMemfd;
  s->attached = true;
  s->seg = seg;
  s->addr = addr;
  s->size = size;
  return true;
}

// A server in another IPC namespace (or on another machine) may attach some
// other segment under our id. Let it read a pattern through the segment
// into a pixmap and check the pattern comes back over the socket.
bool ServerSeesSegment(xcb_connection_t *conn, const ScreenLayout &layout,
                       const Segment &s) {
  const int width = 8;
  const size_t rowBytes = size_t(width) * size_t(layout.bitsPerPixel) / 8;
  if (rowBytes == 0 || rowBytes > s.size) return false;
  for (size_t i = 0; i < rowBytes; ++i) s.addr[i] = uint8_t(0x5A ^ (i * 37));
  xcb_pixmap_t pixmap = 0;
  xcb_gcontext_t gc = 0;
  if (!NewId(conn, &pixmap)) return false;
  if (!NewId(conn, &gc)) {
    FreeId(conn, pixmap);
    return false;
  }
  xcb_create_pixmap(conn, layout.depth, pixmap, layout.root, width, 1);
  xcb_create_gc(conn, gc, pixmap, 0, nullptr);
  xcb_shm_put_image(conn, pixmap, gc, width, 1, 0, 0, width, 1, 0, 0,
                    layout.depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, s.seg, 0);
  xcb_get_image_reply_t *reply = ReplyWithin<xcb_get_image_reply_t>(
      conn, xcb_get_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, 0, 0, width,
                          1, 0xFFFFFFFFu));
  xcb_free_gc(conn, gc);
  xcb_free_pixmap(conn, pixmap);
  FreeId(conn, gc);
  FreeId(conn, pixmap);
  bool same = false;
  if (reply) {
    const uint8_t *bytes = xcb_get_image_data(reply);
    const size_t len = size_t(xcb_get_image_data_length(reply));
    // Only the bits of the depth survive the round trip.
    same = len >= rowBytes;
    const int bytesPerPixel = layout.bitsPerPixel / 8;
    for (size_t i = 0; same && i < rowBytes; ++i) {
      const int b = int(i % size_t(bytesPerPixel));
      const int significance = layout.msbFirst ? bytesPerPixel - 1 - b : b;
      const int bits = layout.depth - significance * 8;
      const uint8_t mask = bits >= 8   ? 0xFF
                           : bits <= 0 ? 0
                                       : uint8_t((1u << bits) - 1);
      same = (bytes[i] & mask) == (s.addr[i] & mask);
    }
    free(reply);
  }
  return same;
}

bool AttachSysV(xcb_connection_t *conn, const ScreenLayout &layout, size_t size,
                Segment *s) {
  const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (id < 0) return false;
  void *addr = shmat(id, nullptr, 0);
  if (addr == reinterpret_cast<void *>(-1)) {
    shmctl(id, IPC_RMID, nullptr);
    return false;
  }
  xcb_shm_seg_t seg = 0;
  const bool named = NewId(conn, &seg);
  const bool attached =
      named && CheckWithin(conn, xcb_shm_attach_checked(conn, seg, id, 0));
  // Marked for removal at once: it goes away with the last detach, even if
  // this process dies.
  shmctl(id, IPC_RMID, nullptr);
  if (!attached) {
    if (named) FreeId(conn, seg);
    shmdt(addr);
    return false;
  }
  s->kind = SegmentKind::kSysV;
  s->attached = true;
  s->seg = seg;
  s->addr = static_cast<uint8_t *>(addr);
  s->size = size;
  if (!ServerSeesSegment(conn, layout, *s)) {
    Detach(conn, s);
    return false;
  }
  return true;
}

bool EnsureSegment(xcb_connection_t *conn, const ScreenLayout &layout,
                   size_t needed, Segment *s) {
  if (s->kind != SegmentKind::kNone && s->attached && s->size >= needed)
    return true;
  Detach(conn, s);
  const size_t page = size_t(sysconf(_SC_PAGESIZE));
  const size_t size = (needed + page - 1) / page * page;
  if (g_shm.fdPassing && AttachMemfd(conn, size, s)) return true;
  if (StaleConnection(conn)) return false;
  g_shm.fdPassing = false;
  return AttachSysV(conn, layout, size, s);
}

// The server writes the rectangle into the segment at offset; kDone when it
// did, with the image's checks passed.
ShmResult GetImage(xcb_connection_t *conn, const ScreenLayout &layout,
                   Segment *s, size_t offset, int x, int y, int w, int h,
                   size_t needed) {
  xcb_generic_error_t *error = nullptr;
  xcb_shm_get_image_reply_t *reply = ReplyWithin<xcb_shm_get_image_reply_t>(
      conn,
      xcb_shm_get_image(conn, layout.root, int16_t(x), int16_t(y), uint16_t(w),
                        uint16_t(h), 0xFFFFFFFFu, XCB_IMAGE_FORMAT_Z_PIXMAP,
                        s->seg, uint32_t(offset)),
      &error);
  if (!reply) {
    const bool badRectangle = error && error->error_code == XCB_MATCH;
    free(error);
    if (StaleConnection(conn) || badRectangle) return ShmResult::kFailed;
    // The server refuses the segment: give it up, read over the socket.
    if (s == &g_shm.lent)
      DetachFromServer(conn, s);
    else
      Detach(conn, s);
    g_shm.usable = false;
    return ShmResult::kUnavailable;
  }
  const bool ok = reply->depth == layout.depth &&
                  reply->visual == layout.visualId && reply->size >= needed;
  free(reply);
  return ok ? ShmResult::kDone : ShmResult::kFailed;
}

}  // namespace

ShmResult ShmRead(xcb_connection_t *conn, const ScreenLayout &layout, int x,
                  int y, int w, int h, size_t rowBytes, const uint8_t **data) {
  if (!g_shm.probed) Probe(conn);
  if (!g_shm.usable) return ShmResult::kUnavailable;
  const size_t needed = rowBytes * size_t(h);
  if (!EnsureSegment(conn, layout, needed, &g_shm.staging)) {
    if (StaleConnection(conn)) return ShmResult::kFailed;
    g_shm.usable = false;
    return ShmResult::kUnavailable;
  }
  const ShmResult result =
      GetImage(conn, layout, &g_shm.staging, 0, x, y, w, h, needed);
  if (result == ShmResult::kDone) *data = g_shm.staging.addr;
  return result;
}

ShmResult ShmReadInPlace(xcb_connection_t *conn, const ScreenLayout &layout,
                         int x, int y, int w, int h, size_t rowBytes,
                         uint8_t *dst, ptrdiff_t dstStride) {
  Segment &s = g_shm.lent;
  const size_t needed = rowBytes * size_t(h);
  if (!g_shm.usable || !g_shm.lentBorrowed || !s.attached || layout.msbFirst ||
      dstStride <= 0 || size_t(dstStride) != rowBytes || dst < s.addr ||
      size_t(dst - s.addr) > s.size || needed > s.size - size_t(dst - s.addr))
    return ShmResult::kUnavailable;
  return GetImage(conn, layout, &s, size_t(dst - s.addr), x, y, w, h, needed);
}

uint8_t *ShmLend(xcb_connection_t *conn, const ScreenLayout &layout,
                 size_t size) {
  if (!g_shm.probed) Probe(conn);
  if (!g_shm.usable || g_shm.lentBorrowed || size == 0) return nullptr;
  if (!EnsureSegment(conn, layout, size, &g_shm.lent)) return nullptr;
  g_shm.lentBorrowed = true;
  return g_shm.lent.addr;
}

bool ShmGiveBack(xcb_connection_t *conn, uint8_t *pixels) {
  if (!g_shm.lentBorrowed || pixels == nullptr || pixels != g_shm.lent.addr)
    return false;
  g_shm.lentBorrowed = false;
  // Kept for the next call while the server knows it; an orphan goes now.
  if (!g_shm.lent.attached) Detach(conn, &g_shm.lent);
  return true;
}

bool ShmIsLent(const uint8_t *pixels) {
  return g_shm.lentBorrowed && pixels == g_shm.lent.addr;
}

void ShmAfterFork() {
  Segment &s = g_shm.lent;
  g_shm.staging.attached = false;
  s.attached = false;
  if (s.kind == SegmentKind::kNone || s.kind == SegmentKind::kPrivate) return;
  if (!g_shm.lentBorrowed) {
    ReleaseLocal(&s);
    return;
  }
  // The bitmap holding it must stay valid here without sharing memory with
  // the parent: a private copy is moved over the same addresses.
  void *copy = mmap(nullptr, s.size, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (copy != MAP_FAILED) {
    memcpy(copy, s.addr, s.size);
    if (mremap(copy, s.size, s.size, MREMAP_MAYMOVE | MREMAP_FIXED, s.addr) !=
        MAP_FAILED) {
      s.kind = SegmentKind::kPrivate;
      return;
    }
    munmap(copy, s.size);
  }
  // Out of memory: the child keeps a shared view rather than a hole.
}

void ShmReleaseAll(xcb_connection_t *conn) {
  ShmForget(conn);
  g_shm.lentBorrowed = false;
  ReleaseLocal(&g_shm.lent);
}

void ShmForget(xcb_connection_t *conn) {
  Detach(conn, &g_shm.staging);
  // A borrowed lent segment stays mapped for its bitmap, orphaned.
  if (g_shm.lentBorrowed)
    DetachFromServer(conn, &g_shm.lent);
  else
    Detach(conn, &g_shm.lent);
  g_shm.probed = false;
  g_shm.usable = false;
  g_shm.fdPassing = false;
}

}  // namespace x11
}  // namespace kplat
