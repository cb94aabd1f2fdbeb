#include "x11_shm.h"

#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/shm.h>

namespace kplat {
namespace x11 {
namespace {

enum class SegmentKind { kNone, kMemfd, kSysV };

struct ShmState {
  bool probed;       // the extension was asked about on this connection
  bool usable;       // false once shared memory proved unusable
  bool fdPassing;    // MIT-SHM 1.2 and a local socket
  SegmentKind kind;  // of the attached segment
  xcb_shm_seg_t seg;
  uint8_t *addr;
  size_t size;
};
ShmState g_shm;
ShmPolicy g_policy = ShmPolicy::kAuto;

void ReleaseLocal() {
  if (g_shm.kind == SegmentKind::kMemfd) munmap(g_shm.addr, g_shm.size);
  if (g_shm.kind == SegmentKind::kSysV) shmdt(g_shm.addr);
  g_shm.kind = SegmentKind::kNone;
  g_shm.addr = nullptr;
  g_shm.size = 0;
}

void Detach(xcb_connection_t *conn) {
  if (g_shm.kind == SegmentKind::kNone) return;
  if (conn && !xcb_connection_has_error(conn)) {
    xcb_shm_detach(conn, g_shm.seg);
    xcb_flush(conn);
  }
  ReleaseLocal();
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
  if (g_policy == ShmPolicy::kOff) return;
  const xcb_query_extension_reply_t *ext =
      xcb_get_extension_data(conn, &xcb_shm_id);
  if (!ext || !ext->present) return;
  xcb_shm_query_version_reply_t *version =
      xcb_shm_query_version_reply(conn, xcb_shm_query_version(conn), nullptr);
  if (!version) return;
  g_shm.usable = true;
  g_shm.fdPassing =
      g_policy == ShmPolicy::kAuto &&
      (version->major_version > 1 ||
       (version->major_version == 1 && version->minor_version >= 2)) &&
      IsLocalSocket(conn);
  free(version);
}

bool AttachMemfd(xcb_connection_t *conn, size_t size) {
  const int fd = memfd_create("kestrel-screen", MFD_CLOEXEC);
  if (fd < 0) return false;
  void *addr = MAP_FAILED;
  if (ftruncate(fd, off_t(size)) == 0)
    addr = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (addr == MAP_FAILED) {
    close(fd);
    return false;
  }
  // xcb takes the descriptor and closes it once sent; the mapping stays.
  const xcb_shm_seg_t seg = xcb_generate_id(conn);
  xcb_generic_error_t *error =
      xcb_request_check(conn, xcb_shm_attach_fd_checked(conn, seg, fd, 0));
  if (error || xcb_connection_has_error(conn)) {
    free(error);
    munmap(addr, size);
    return false;
  }
  g_shm.kind = SegmentKind::kMemfd;
  g_shm.seg = seg;
  g_shm.addr = static_cast<uint8_t *>(addr);
  g_shm.size = size;
  return true;
}

// A server in another IPC namespace (or on another machine) may attach some
// other segment under our id. Let it read a pattern through the segment
// into a pixmap and check the pattern comes back over the socket.
bool ServerSeesSegment(xcb_connection_t *conn, const ScreenLayout &layout) {
  const int width = 8;
  const size_t rowBytes = size_t(width) * size_t(layout.bitsPerPixel) / 8;
  if (rowBytes == 0 || rowBytes > g_shm.size) return false;
  for (size_t i = 0; i < rowBytes; ++i)
    g_shm.addr[i] = uint8_t(0x5A ^ (i * 37));
  const xcb_pixmap_t pixmap = xcb_generate_id(conn);
  const xcb_gcontext_t gc = xcb_generate_id(conn);
  xcb_create_pixmap(conn, layout.depth, pixmap, layout.root, width, 1);
  xcb_create_gc(conn, gc, pixmap, 0, nullptr);
  xcb_shm_put_image(conn, pixmap, gc, width, 1, 0, 0, width, 1, 0, 0,
                    layout.depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, g_shm.seg, 0);
  xcb_get_image_reply_t *reply =
      xcb_get_image_reply(conn,
                          xcb_get_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap,
                                        0, 0, width, 1, 0xFFFFFFFFu),
                          nullptr);
  xcb_free_gc(conn, gc);
  xcb_free_pixmap(conn, pixmap);
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
      same = (bytes[i] & mask) == (g_shm.addr[i] & mask);
    }
    free(reply);
  }
  return same;
}

bool AttachSysV(xcb_connection_t *conn, const ScreenLayout &layout,
                size_t size) {
  const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (id < 0) return false;
  void *addr = shmat(id, nullptr, 0);
  if (addr == reinterpret_cast<void *>(-1)) {
    shmctl(id, IPC_RMID, nullptr);
    return false;
  }
  const xcb_shm_seg_t seg = xcb_generate_id(conn);
  xcb_generic_error_t *error =
      xcb_request_check(conn, xcb_shm_attach_checked(conn, seg, id, 0));
  // Marked for removal at once: it goes away with the last detach, even if
  // this process dies.
  shmctl(id, IPC_RMID, nullptr);
  if (error || xcb_connection_has_error(conn)) {
    free(error);
    shmdt(addr);
    return false;
  }
  g_shm.kind = SegmentKind::kSysV;
  g_shm.seg = seg;
  g_shm.addr = static_cast<uint8_t *>(addr);
  g_shm.size = size;
  if (!ServerSeesSegment(conn, layout)) {
    Detach(conn);
    return false;
  }
  return true;
}

bool EnsureSegment(xcb_connection_t *conn, const ScreenLayout &layout,
                   size_t needed) {
  if (g_shm.kind != SegmentKind::kNone && g_shm.size >= needed) return true;
  Detach(conn);
  const size_t page = size_t(sysconf(_SC_PAGESIZE));
  const size_t size = (needed + page - 1) / page * page;
  if (g_shm.fdPassing && AttachMemfd(conn, size)) return true;
  if (xcb_connection_has_error(conn)) return false;
  g_shm.fdPassing = false;
  return AttachSysV(conn, layout, size);
}

}  // namespace

ShmResult ShmRead(xcb_connection_t *conn, const ScreenLayout &layout, int x,
                  int y, int w, int h, size_t rowBytes, const uint8_t **data) {
  if (!g_shm.probed) Probe(conn);
  if (!g_shm.usable) return ShmResult::kUnavailable;
  const size_t needed = rowBytes * size_t(h);
  if (!EnsureSegment(conn, layout, needed)) {
    if (xcb_connection_has_error(conn)) return ShmResult::kFailed;
    g_shm.usable = false;
    return ShmResult::kUnavailable;
  }
  xcb_generic_error_t *error = nullptr;
  xcb_shm_get_image_reply_t *reply = xcb_shm_get_image_reply(
      conn,
      xcb_shm_get_image(conn, layout.root, int16_t(x), int16_t(y), uint16_t(w),
                        uint16_t(h), 0xFFFFFFFFu, XCB_IMAGE_FORMAT_Z_PIXMAP,
                        g_shm.seg, 0),
      &error);
  if (!reply) {
    const bool badRectangle = error && error->error_code == XCB_MATCH;
    free(error);
    if (xcb_connection_has_error(conn) || badRectangle)
      return ShmResult::kFailed;
    // The server refuses the segment: give it up, read over the socket.
    Detach(conn);
    g_shm.usable = false;
    return ShmResult::kUnavailable;
  }
  const bool ok = reply->depth == layout.depth &&
                  reply->visual == layout.visualId && reply->size >= needed;
  free(reply);
  if (!ok) return ShmResult::kFailed;
  *data = g_shm.addr;
  return ShmResult::kDone;
}

void ShmForget(xcb_connection_t *conn) {
  Detach(conn);
  g_shm.probed = false;
  g_shm.usable = false;
  g_shm.fdPassing = false;
}

void SetShmPolicy(ShmPolicy policy) { g_policy = policy; }

}  // namespace x11
}  // namespace kplat
