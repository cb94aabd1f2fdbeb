// The X server's root window as the platform's screen.
#include <pthread.h>
#include <stdlib.h>
#include <xcb/xcb.h>

#include "display.h"
#include "x11_connection.h"
#include "x11_core_read.h"
#include "x11_format.h"
#include "x11_rows.h"
#include "x11_shm.h"
#include "x11_sigpipe.h"
#include "x11_testing.h"
#include "x11_wait.h"

namespace kplat {
namespace x11 {
namespace {

ReadPath g_lastPath = ReadPath::kNone;

// An operation on the live connection. One that fails because a connection
// made in an earlier call has broken (the server was restarted since) is
// tried once more on a new connection.
template <typename Op>
bool OnConnection(Op op) {
  SigpipeBlock block;
  BlockSigpipe(&block);
  bool fresh = false;
  xcb_connection_t *conn = LiveConnection(&fresh);
  bool ok = conn && op(conn);
  if (conn && !ok && !fresh && xcb_connection_has_error(conn)) {
    DropConnection();
    conn = LiveConnection(&fresh);
    ok = conn && op(conn);
  }
  RestoreSigpipe(&block);
  return ok;
}

bool GetGeometry(xcb_connection_t *conn, int *width, int *height) {
  xcb_get_geometry_reply_t *geometry = ReplyWithin<xcb_get_geometry_reply_t>(
      conn, xcb_get_geometry(conn, Layout().root));
  if (!geometry) return false;
  *width = geometry->width;
  *height = geometry->height;
  free(geometry);
  return true;
}

// Registered once per load; glibc drops the handler when the library is
// unloaded.
void WatchForks() {
  static bool registered = false;
  if (!registered)
    registered = pthread_atfork(nullptr, nullptr, ShmAfterFork) == 0;
}

class X11Display : public Display {
 public:
  bool GetSize(int *width, int *height) override {
    if (!width || !height) return false;
    return OnConnection([&](xcb_connection_t *conn) {
      return GetGeometry(conn, width, height);
    });
  }

  bool GetFormat(PixelFormat *format) override {
    if (!format) return false;
    return OnConnection([&](xcb_connection_t *conn) {
      if (!QueryFormat(conn, Layout(), &reported_)) return false;
      reportedValid_ = true;
      reportedGeneration_ = Generation();
      *format = reported_;
      return true;
    });
  }

  bool ReadPixels(int x, int y, int w, int h, uint8_t *dst,
                  ptrdiff_t dstStride) override {
    if (!dst || x < 0 || y < 0 || w <= 0 || h <= 0 || w > 32767 - x ||
        h > 32767 - y)
      return false;
    return OnConnection([&](xcb_connection_t *conn) {
      const ScreenLayout &layout = Layout();
      if (!LayoutSupported(layout) || !StillReportedFormat(conn)) return false;
      return Read(conn, layout, x, y, w, h, dst, dstStride);
    });
  }

  // Only a bitmap the size of the screen, with rows as the server lays them
  // out, is worth a segment of its own.
  uint8_t *LendPixels(int w, int h, ptrdiff_t stride) override {
    if (w <= 0 || h <= 0 || stride <= 0) return nullptr;
    SigpipeBlock block;
    BlockSigpipe(&block);
    uint8_t *pixels = nullptr;
    bool fresh = false;
    xcb_connection_t *conn = LiveConnection(&fresh);
    int sw = 0, sh = 0;
    if (conn) {
      const ScreenLayout &layout = Layout();
      if (LayoutSupported(layout) && !layout.msbFirst &&
          size_t(stride) ==
              PaddedRowBytes(w, layout.bitsPerPixel, layout.scanlinePad) &&
          GetGeometry(conn, &sw, &sh) && sw == w && sh == h)
        pixels = ShmLend(conn, layout, size_t(stride) * size_t(h));
    }
    RestoreSigpipe(&block);
    if (pixels) WatchForks();
    return pixels;
  }

  void ReturnPixels(uint8_t *pixels) override {
    SigpipeBlock block;
    BlockSigpipe(&block);
    ShmGiveBack(ExistingConnection(), pixels);
    RestoreSigpipe(&block);
  }

 private:
  // A new connection may lead to a new server: its format must be the one
  // the caller was told about.
  bool StillReportedFormat(xcb_connection_t *conn) {
    if (!reportedValid_ || reportedGeneration_ == Generation()) return true;
    PixelFormat now;
    if (!QueryFormat(conn, Layout(), &now) || !SameFormat(now, reported_))
      return false;
    reportedGeneration_ = Generation();
    return true;
  }

  static bool Read(xcb_connection_t *conn, const ScreenLayout &layout, int x,
                   int y, int w, int h, uint8_t *dst, ptrdiff_t dstStride) {
    const size_t rowBytes =
        PaddedRowBytes(w, layout.bitsPerPixel, layout.scanlinePad);
    switch (
        ShmReadInPlace(conn, layout, x, y, w, h, rowBytes, dst, dstStride)) {
      case ShmResult::kDone:
        g_lastPath = ReadPath::kInPlace;
        return true;
      case ShmResult::kFailed:
        return false;
      case ShmResult::kUnavailable:
        break;
    }
    const uint8_t *shared = nullptr;
    switch (ShmRead(conn, layout, x, y, w, h, rowBytes, &shared)) {
      case ShmResult::kDone:
        CopyRows(shared, rowBytes, dst, dstStride, w, h,
                 layout.bitsPerPixel / 8, layout.msbFirst);
        g_lastPath = ReadPath::kSharedMemory;
        return true;
      case ShmResult::kFailed:
        return false;
      case ShmResult::kUnavailable:
        break;
    }
    if (!CoreRead(conn, layout, x, y, w, h, dst, dstStride)) return false;
    g_lastPath = ReadPath::kSocket;
    return true;
  }

  PixelFormat reported_;
  bool reportedValid_ = false;
  unsigned reportedGeneration_ = 0;
};

X11Display g_display;

// Unloading the library (or the end of the process) lets go of the server.
struct CloseAtUnload {
  ~CloseAtUnload() {
    CloseSystemDisplay();
    ShmReleaseAll(nullptr);
  }
} g_closeAtUnload;

}  // namespace

ReadPath LastReadPath() { return g_lastPath; }

}  // namespace x11

Display *SystemDisplay() {
  x11::SigpipeBlock block;
  x11::BlockSigpipe(&block);
  bool fresh = false;
  const bool live = x11::LiveConnection(&fresh) != nullptr;
  x11::RestoreSigpipe(&block);
  return live ? &x11::g_display : nullptr;
}

void CloseSystemDisplay() {
  x11::SigpipeBlock block;
  x11::BlockSigpipe(&block);
  x11::DropConnection();
  x11::RestoreSigpipe(&block);
}

}  // namespace kplat
