// The X server's root window as the platform's screen.
//
// On a kept connection a frame costs no round trip: the truecolour format
// comes from the connection's setup, and the root's size is asked once per
// connection and then followed through the ConfigureNotify events the server
// sends when it changes. The pixel read is the one round trip of a capture,
// and a resize whose event arrives ahead of its reply shows that the screen
// no longer had the frame's size when it was read. (A colour-mapped screen
// adds one read of its colour map per frame.)
#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <xcb/xcb.h>

#include "backends.h"
#include "x11_connection.h"
#include "x11_core_read.h"
#include "x11_format.h"
#include "x11_rows.h"
#include "x11_shm.h"
#include "x11_sigpipe.h"
#include "x11_wait.h"
#include "x11_xwayland.h"

namespace kplat {
namespace x11 {

namespace {

// Events read per drain: far more than a server sends a client that asked
// only for the root's resizes. A server that sends more, or keeps sending
// until the drain's deadline, fails the frame.
const int kMaxEventsPerDrain = 4096;

// Registered once per load; glibc drops the handler when the library is
// unloaded.
void WatchForks() {
  static bool registered = false;
  if (!registered)
    registered = pthread_atfork(nullptr, nullptr, ShmAfterFork) == 0;
}

// What this process knows of the root window on the live connection.
struct RootState {
  unsigned generation;  // of the connection it was learnt on; 0 = none
  int width;
  int height;
  bool known;    // the size was asked on this connection
  bool changed;  // the root was resized since the frame began
};

class X11Display : public Display {
 public:
  bool BeginFrame(Frame *frame) override {
    SigpipeGuard guard;
    xcb_connection_t *conn = Connection();
    if (!conn) return false;
    // Xwayland's root window would read as black: no picture at all is
    // better than a wrong one.
    if (ServerIsXwayland(conn, Generation(), Layout().root)) {
      errno = ENODEV;
      return false;
    }
    if (StaleConnection(conn)) return false;  // it did not answer
    PixelFormat format;
    if (!FrameFormat(conn, &format) || (!root_.known && !AskRootSize(conn))) {
      if (xcb_connection_has_error(conn)) DropConnection();
      return false;
    }
    frameGeneration_ = Generation();
    root_.changed = false;
    frame->width = root_.width;
    frame->height = root_.height;
    frame->format = format;
    return true;
  }

  bool ReadPixels(const Frame &frame, int x, int y, int w, int h, uint8_t *dst,
                  ptrdiff_t dstStride) override {
    if (!dst || x < 0 || y < 0 || w <= 0 || h <= 0 || w > frame.width - x ||
        h > frame.height - y)
      return false;
    SigpipeGuard guard;
    xcb_connection_t *conn = Connection();
    if (!conn || !StillShows(conn, frame)) return false;
    const bool ok = Read(conn, Layout(), x, y, w, h, dst, dstStride);
    // Events sent before the reply were queued while it was read.
    return DrainEvents(conn) && ok && !root_.changed;
  }

  // Only a bitmap the size of the frame, with rows as the server lays them
  // out, is worth a segment of its own.
  uint8_t *LendPixels(const Frame &frame, int w, int h,
                      ptrdiff_t stride) override {
    if (w <= 0 || h <= 0 || stride <= 0 || w != frame.width ||
        h != frame.height)
      return nullptr;
    SigpipeGuard guard;
    xcb_connection_t *conn = ExistingConnection();
    if (!conn || root_.generation != Generation()) return nullptr;
    const ScreenLayout &layout = Layout();
    if (!LayoutSupported(layout) || layout.msbFirst ||
        size_t(stride) !=
            PaddedRowBytes(w, layout.bitsPerPixel, layout.scanlinePad))
      return nullptr;
    uint8_t *pixels = ShmLend(conn, layout, size_t(stride) * size_t(h));
    if (pixels) WatchForks();
    return pixels;
  }

  void ReturnPixels(uint8_t *pixels) override {
    SigpipeGuard guard;
    ShmGiveBack(ExistingConnection(), pixels);
  }

  void Forget() { root_ = RootState(); }

 private:
  // The live connection with the root's size known on it. A connection
  // made in an earlier call that has broken since (the server went away or
  // was restarted) is replaced once.
  xcb_connection_t *Connection() {
    // Read what is waiting first: it may be a resize, or the end of a
    // server that went away.
    if (xcb_connection_t *kept = ExistingConnection()) {
      if (!DrainEvents(kept)) return nullptr;
      if (xcb_connection_has_error(kept)) DropConnection();
    }
    xcb_connection_t *conn = LiveConnection();
    if (conn && root_.generation != Generation()) WatchRoot(conn);
    return conn;
  }

  // Asks for the root's resizes: any change after its size was taken
  // arrives as an event.
  void WatchRoot(xcb_connection_t *conn) {
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(conn, Layout().root, XCB_CW_EVENT_MASK, &mask);
    root_ = RootState();
    root_.generation = Generation();
  }

  bool AskRootSize(xcb_connection_t *conn) {
    xcb_get_geometry_reply_t *geometry = ReplyWithin<xcb_get_geometry_reply_t>(
        conn, xcb_get_geometry(conn, Layout().root));
    if (!geometry) return false;
    // Resizes before the answer are in it.
    const bool drained = DrainEvents(conn);
    root_.width = geometry->width;
    root_.height = geometry->height;
    root_.changed = false;
    root_.known = drained;
    free(geometry);
    return drained;
  }

  // Reads what the server has sent; false when it sent more than a drain
  // takes (kMaxEventsPerDrain, or until the deadline), the rest unread.
  bool DrainEvents(xcb_connection_t *conn) {
    const xcb_window_t root = Layout().root;
    const Deadline deadline;
    for (int n = 0;; ++n) {
      if (n == kMaxEventsPerDrain || deadline.RemainingMs() == 0) return false;
      xcb_generic_event_t *event = xcb_poll_for_event(conn);
      if (event == nullptr) return true;
      if ((event->response_type & 0x7f) == XCB_CONFIGURE_NOTIFY) {
        const auto *configure =
            reinterpret_cast<xcb_configure_notify_event_t *>(event);
        if (configure->window == root && (configure->width != root_.width ||
                                          configure->height != root_.height)) {
          root_.width = configure->width;
          root_.height = configure->height;
          root_.changed = true;
        }
      }
      free(event);
    }
  }

  // Whether the screen on conn still has the frame's size and format. A
  // connection made since the frame began (the server was restarted, or
  // this is a fork child) must show a screen of the same shape.
  bool StillShows(xcb_connection_t *conn, const Frame &frame) {
    if (frameGeneration_ != Generation()) {
      PixelFormat now;
      if (!FrameFormat(conn, &now) || !SameFormat(now, frame.format) ||
          !AskRootSize(conn))
        return false;
      frameGeneration_ = Generation();
    }
    return !root_.changed && root_.width == frame.width &&
           root_.height == frame.height;
  }

  // Truecolour formats come from the setup and are learnt once per
  // connection; a colour map is read once per frame.
  bool FrameFormat(xcb_connection_t *conn, PixelFormat *format) {
    const ScreenLayout &layout = Layout();
    if (!LayoutSupported(layout)) return false;
    if (formatGeneration_ != Generation() || formatFromColormap_) {
      if (!QueryFormat(conn, layout, &format_)) return false;
      formatGeneration_ = Generation();
      formatFromColormap_ = format_.IsPalettised();
    }
    *format = format_;
    return true;
  }

  static bool Read(xcb_connection_t *conn, const ScreenLayout &layout, int x,
                   int y, int w, int h, uint8_t *dst, ptrdiff_t dstStride) {
    const size_t rowBytes =
        PaddedRowBytes(w, layout.bitsPerPixel, layout.scanlinePad);
    switch (
        ShmReadInPlace(conn, layout, x, y, w, h, rowBytes, dst, dstStride)) {
      case ShmResult::kDone:
        NoteReadPath(ReadPath::kInPlace);
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
        NoteReadPath(ReadPath::kSharedMemory);
        return true;
      case ShmResult::kFailed:
        return false;
      case ShmResult::kUnavailable:
        break;
    }
    if (!CoreRead(conn, layout, x, y, w, h, dst, dstStride)) return false;
    NoteReadPath(ReadPath::kSocket);
    return true;
  }

  RootState root_ = RootState();
  PixelFormat format_ = PixelFormat();
  unsigned formatGeneration_ = 0;
  unsigned frameGeneration_ = 0;
  bool formatFromColormap_ = false;
};

X11Display g_display;

// BeginFrame reads what the kept connection has waiting before it can be
// replaced, so only a first connection is made here. Behind Xwayland the
// desktop is the compositor's: it serves when it can be reached, else the
// X screen does, whose frames then fail.
Display *Open() {
  SigpipeGuard guard;
  xcb_connection_t *conn = ExistingConnection();
  if (!conn) conn = LiveConnection();
  if (!conn) return nullptr;
  if (ServerIsXwayland(conn, Generation(), Layout().root)) {
    if (Display *compositor = OpenCompositorBehindXwayland()) return compositor;
  }
  // A server that did not answer has had the call's X bound.
  return StaleConnection(conn) ? nullptr : &g_display;
}

// At unload (or in tests): lets go of the server and of every segment but
// one a live bitmap still borrows, which goes with that bitmap.
void Close() {
  SigpipeGuard guard;
  DropConnection();
  g_display.Forget();
}

}  // namespace
}  // namespace x11

const DisplayBackend kX11Backend = {"x11", x11::Open, x11::Close};

}  // namespace kplat
