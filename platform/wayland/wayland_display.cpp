// The Wayland compositor's desktop as the platform's screen. The whole
// picture is taken when a frame begins (a compositor only tells size and
// format while answering a capture), on a connection made for that call and
// closed right after. A new connection with its output queries costs 3-7 ms
// beside the 200-250 ms that sway takes to answer a 1920x1080 capture, so
// keeping one would gain little; a fresh one follows restarts,
// WAYLAND_DISPLAY changes and forks.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backends.h"
#include "capture_method.h"
#include "display.h"
#include "portal_screenshot.h"
#include "wl_picture.h"
#include "wl_session.h"

namespace kplat {
namespace wl {
namespace {

// Bounds on the waits: connecting with its first exchanges; copying every
// output (requested together, so this is the bound per frame too); the
// portal's answer.
const int kConnectMs = 2000;
const int kCaptureMs = 2000;
const int kPortalMs = 10000;

enum class Source { kNone, kCapture, kPortal };

// A session bus that needs no starting: without one libdbus would launch a
// bus daemon of its own for the host.
bool SessionBusKnown() {
  if (getenv("DBUS_SESSION_BUS_ADDRESS")) return true;
  const char *dir = getenv("XDG_RUNTIME_DIR");
  if (!dir) return false;
  char path[4096];
  struct stat st;
  return snprintf(path, sizeof path, "%s/bus", dir) < int(sizeof path) &&
         stat(path, &st) == 0 && S_ISSOCK(st.st_mode);
}

class WaylandDisplay : public Display {
 public:
  // Finds what can take the picture now: a capture method of the
  // compositor, else the desktop portal. Keeps the connection for the frame
  // that follows.
  bool Open() {
    Close();
    if (!getenv("WAYLAND_DISPLAY")) return false;
    if (!Connect(&session_, DeadlineIn(kConnectMs))) return false;
    owner_ = getpid();
    int count = 0;
    const CaptureMethod *const *methods = CaptureMethods(&count);
    for (int i = 0; i < count; ++i) {
      if (methods[i]->Offered(session_)) {
        method_ = methods[i];
        source_ = Source::kCapture;
        return true;
      }
    }
    Disconnect(&session_);
    if (!SessionBusKnown() || !OpenPortal(&portal_, DeadlineIn(kPortalMs)))
      return false;
    source_ = Source::kPortal;
    return true;
  }

  void Close() {
    FreePicture(&picture_);
    Disconnect(&session_);
    ClosePortal(&portal_);
    source_ = Source::kNone;
    method_ = nullptr;
  }

  bool BeginFrame(Frame *frame) override {
    FreePicture(&picture_);
    // What open found belongs to this call of this process alone.
    if (source_ == Source::kNone || owner_ != getpid()) {
      if (!Open()) return false;
    }
    bool ok = false;
    if (source_ == Source::kCapture) {
      ok = TakeCapture();
      Disconnect(&session_);
    } else {
      ok = PortalScreenshot(&portal_, DeadlineIn(kPortalMs), &picture_);
      ClosePortal(&portal_);
    }
    source_ = Source::kNone;
    if (!ok || !frame) {
      FreePicture(&picture_);
      return false;
    }
    frame->width = picture_.width;
    frame->height = picture_.height;
    frame->format = picture_.format;
    return true;
  }

  bool ReadPixels(const Frame &frame, int x, int y, int w, int h, uint8_t *dst,
                  ptrdiff_t dstStride) override {
    if (!picture_.pixels || !dst || frame.width != picture_.width ||
        frame.height != picture_.height ||
        !SameFormat(frame.format, picture_.format) || x < 0 || y < 0 ||
        w <= 0 || h <= 0 || w > picture_.width - x || h > picture_.height - y)
      return false;
    CopyRect(picture_, x, y, w, h, dst, dstStride);
    return true;
  }

  void EndFrame() override { Close(); }

 private:
  bool TakeCapture() {
    const Deadline deadline = DeadlineIn(kCaptureMs);
    Captures captures;
    if (!LearnLayout(&session_, deadline) ||
        !method_->CaptureAll(&session_, deadline, &captures))
      return false;
    Placement placements[kMaxOutputs];
    for (int i = 0; i < captures.count; ++i) {
      const Output &output = session_.outputs[i];
      placements[i] = Placement{output.x, output.y, output.width, output.height,
                                output.transform};
    }
    const bool ok =
        Compose(placements, captures.images, captures.count, &picture_);
    ReleaseCaptures(&captures);
    return ok;
  }

  Session session_ = {};
  Portal portal_ = {};
  Picture picture_ = {};
  const CaptureMethod *method_ = nullptr;
  Source source_ = Source::kNone;
  pid_t owner_ = 0;
};

WaylandDisplay g_display;

Display *OpenWayland() { return g_display.Open() ? &g_display : nullptr; }

void CloseWayland() { g_display.Close(); }

}  // namespace
}  // namespace wl

const DisplayBackend kWaylandBackend = {"wayland", wl::OpenWayland,
                                        wl::CloseWayland};

}  // namespace kplat
