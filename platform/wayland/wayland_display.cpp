// The Wayland compositor's desktop as the platform's screen. The whole
// picture is taken when a frame begins (a compositor only tells size and
// format while answering a capture), on a connection made for that call and
// closed right after. A new connection with its output queries costs 3-7 ms
// beside the 200-250 ms that sway takes to answer a 1920x1080 capture, so
// keeping one would gain little; a fresh one follows restarts,
// WAYLAND_DISPLAY changes and forks.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "backends.h"
#include "capture_method.h"
#include "display.h"
#include "portal_screenshot.h"
#include "seam/test_seam.h"
#include "wl_own_socket.h"
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

class WaylandDisplay : public Display {
 public:
  // Finds what can take the picture now on the compositor whose socket
  // is named so (as WAYLAND_DISPLAY names one): a capture method of the
  // compositor, else the desktop portal. Keeps the connection for the frame
  // that follows.
  bool Open(const char *socket) {
    Close();
    if (!socket || strlen(socket) >= sizeof socket_) return false;
    if (socket != socket_) strcpy(socket_, socket);
    if (!Connect(&session_, socket_, DeadlineIn(kConnectMs))) return false;
    owner_ = getpid();
    int count = 0;
    const CaptureMethod *const *methods = CaptureMethods(&count);
    if (ShouldFail(KTEST_OP_WAYLAND_CAPTURE)) count = 0;
    for (int i = 0; i < count; ++i) {
      if (!methods[i]->Offered(session_)) continue;
      // A compositor showing no output has no screen to give.
      if (session_.outputCount == 0) {
        Disconnect(&session_);
        return false;
      }
      method_ = methods[i];
      source_ = Source::kCapture;
      return true;
    }
    Disconnect(&session_);
    if (!OpenPortal(&portal_, DeadlineIn(kPortalMs))) return false;
    source_ = Source::kPortal;
    return true;
  }

  void Close() {
    DropPicture();
    ReleaseSession();
    ClosePortal(&portal_);
    source_ = Source::kNone;
    method_ = nullptr;
  }

  // A compositor's capture tells the picture's size and format before it
  // copies anything: the frame begins on that, and the pixels are copied
  // only when first read (a frame that is never read costs one exchange).
  // The portal only hands over whole pictures, so its frame takes one.
  bool BeginFrame(Frame *frame) override {
    DropPicture();
    // A bitmap of this capture still holds the portal's picture (the
    // DIB section's GetDC comes while the screen bitmap lives): the frame
    // describes that picture rather than asking the portal again, which
    // would double the time and any prompt. Its pixels are the bitmap's.
    if (frame && lent_ && lentByPortal_) {
      *frame = lentFrame_;
      return true;
    }
    // What open found belongs to this call of this process alone.
    if (source_ == Source::kNone || owner_ != getpid()) {
      if (!Open(socket_)) return false;
    }
    bool ok = frame != nullptr;
    if (ok && source_ == Source::kCapture) {
      ok = DescribeCapture(frame);
    } else if (ok) {
      ok = PortalScreenshot(&portal_, DeadlineIn(kPortalMs), &picture_);
      const int error = errno;  // why it failed: a refusal, its bound
      ClosePortal(&portal_);
      source_ = Source::kNone;
      if (!ok) {
        Close();
        errno = error;
        return false;
      }
      portalPicture_ = true;
      frame->width = picture_.width;
      frame->height = picture_.height;
      frame->format = picture_.format;
    }
    if (!ok) Close();
    return ok;
  }

  bool ReadPixels(const Frame &frame, int x, int y, int w, int h, uint8_t *dst,
                  ptrdiff_t dstStride) override {
    if (described_) {
      const bool taken = TakeCapture();
      ReleaseSession();
      if (!taken) {
        DropPicture();
        return false;
      }
    }
    if (!picture_.pixels || !dst || frame.width != picture_.width ||
        frame.height != picture_.height ||
        !SameFormat(frame.format, picture_.format) || x < 0 || y < 0 ||
        w <= 0 || h <= 0 || w > picture_.width - x || h > picture_.height - y)
      return false;
    // A bitmap holding the lent picture already has its pixels.
    const size_t bytes = size_t(picture_.format.BytesPerPixel());
    if (dst !=
            picture_.pixels + size_t(y) * picture_.stride + size_t(x) * bytes ||
        dstStride != ptrdiff_t(picture_.stride))
      CopyRect(picture_, x, y, w, h, dst, dstStride);
    return true;
  }

  void EndFrame() override { Close(); }

  // The picture itself, before it is taken, for a bitmap of the frame's
  // size: the copy is then composed straight into the bitmap. It outlives
  // the frame until given back.
  uint8_t *LendPixels(const Frame &frame, int w, int h,
                      ptrdiff_t stride) override {
    if (lent_ || stride <= 0 || w != frame.width || h != frame.height)
      return nullptr;
    if (!described_) {
      // The portal's picture, taken already, when its rows fit the bitmap.
      if (!portalPicture_ || size_t(stride) != picture_.stride ||
          w != picture_.width || h != picture_.height ||
          !SameFormat(frame.format, picture_.format))
        return nullptr;
      lentByPortal_ = true;
      lentFrame_ = frame;
    } else if (picture_.pixels || !AllocatePicture(w, h, frame.format,
                                                   &picture_, size_t(stride))) {
      return nullptr;
    }
    lent_ = picture_.pixels;
    return lent_;
  }

  void ReturnPixels(uint8_t *pixels) override {
    if (!pixels || pixels != lent_) return;
    if (picture_.pixels == lent_) memset(&picture_, 0, sizeof picture_);
    free(lent_);
    lent_ = nullptr;
    lentByPortal_ = false;
  }

 private:
  bool DescribeCapture(Frame *frame) {
    const Deadline deadline = DeadlineIn(kCaptureMs);
    described_ = true;
    if (!LearnLayout(&session_, deadline) ||
        !method_->Describe(&session_, deadline, &captures_))
      return false;
    OutputImage images[kMaxOutputs];
    Placement placements[kMaxOutputs];
    Gather(images, placements);
    return PlanPicture(placements, images, captures_.count, &frame->width,
                       &frame->height, &frame->format);
  }

  bool TakeCapture() {
    if (!method_->Copy(&session_, DeadlineIn(kCaptureMs), &captures_))
      return false;
    OutputImage images[kMaxOutputs];
    Placement placements[kMaxOutputs];
    Gather(images, placements);
    return Compose(placements, images, captures_.count, &picture_);
  }

  void Gather(OutputImage *images, Placement *placements) const {
    for (int i = 0; i < captures_.count; ++i) {
      const Output &output = session_.outputs[i];
      images[i] = captures_.outputs[i].image;
      placements[i] = Placement{output.x, output.y, output.width, output.height,
                                output.transform};
    }
  }

  // Lets go of the frame's picture; memory lent to a bitmap stays its own.
  void DropPicture() {
    portalPicture_ = false;
    if (picture_.pixels == lent_)
      memset(&picture_, 0, sizeof picture_);
    else
      FreePicture(&picture_);
  }

  // The connection is needed no longer once the picture is taken.
  void ReleaseSession() {
    if (described_) method_->Release(&captures_);
    described_ = false;
    Disconnect(&session_);
    source_ = Source::kNone;
  }

  char socket_[108] = "";  // as long as a socket path can be
  Session session_ = {};
  Captures captures_ = {};
  bool described_ = false;      // captures_ holds requests
  uint8_t *lent_ = nullptr;     // picture memory a bitmap holds
  bool portalPicture_ = false;  // picture_ is the portal's, not composed here
  bool lentByPortal_ = false;   // lent_ is the portal's picture of lentFrame_
  Frame lentFrame_ = {};
  Portal portal_ = {};
  Picture picture_ = {};
  const CaptureMethod *method_ = nullptr;
  Source source_ = Source::kNone;
  pid_t owner_ = 0;
};

WaylandDisplay g_display;

Display *OpenWayland() {
  const char *socket = getenv("WAYLAND_DISPLAY");
  return socket && *socket && g_display.Open(socket) ? &g_display : nullptr;
}

void CloseWayland() { g_display.Close(); }

}  // namespace
}  // namespace wl

const DisplayBackend kWaylandBackend = {"wayland", wl::OpenWayland,
                                        wl::CloseWayland};

// With WAYLAND_DISPLAY set, the Wayland screen has had its turn already.
Display *OpenCompositorBehindXwayland() {
  const char *named = getenv("WAYLAND_DISPLAY");
  char socket[32];
  if ((named && *named) || !wl::FindOwnCompositorSocket(socket, sizeof socket))
    return nullptr;
  return wl::g_display.Open(socket) ? &wl::g_display : nullptr;
}

}  // namespace kplat
