// The Wayland compositor's desktop as the platform's screen. The whole
// picture is taken when a frame begins (a compositor only tells size and
// format while answering a capture), on a connection made for that call:
// it is closed when the frame ends, or, while a bitmap holds the picture,
// when the bitmap gives it back, so that the call's later screen contexts
// find it (one connection per call). A fresh one per call follows
// restarts, WAYLAND_DISPLAY changes and forks. A bitmap of the whole
// picture gets shared memory, which the compositor writes upright outputs
// straight into; that memory is kept for the next call's bitmap.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "backends.h"
#include "capture_method.h"
#include "display.h"
#include "hook.h"
#include "picture.h"
#include "portal_screenshot.h"
#include "wl_own_socket.h"
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
    // The portal's picture a bitmap still holds is what the next frame
    // shows (BeginFrame): nothing to connect to or ask for it.
    if (lent_ && lentByPortal_) return true;
    EndCapture();
    portal::ClosePortal(&portal_);
    closed_ = false;
    const Deadline deadline = DeadlineIn(kConnectMs);
    if (!Reusable(socket, deadline)) {
      Disconnect(&session_);
      if (!SameSocket(socket, true) || !Connect(&session_, socket_, deadline))
        return false;
      owner_ = getpid();
    }
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
    if (!portal::OpenPortal(&portal_, DeadlineIn(kPortalMs))) return false;
    source_ = Source::kPortal;
    return true;
  }

  // Lets go of everything, the connection and the kept memory included
  // (memory lent to a bitmap stays the bitmap's).
  void Close() {
    EndCapture();
    Disconnect(&session_);
    portal::ClosePortal(&portal_);
    DestroyShmMemory(&kept_);
    closed_ = true;
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
      ok = portal::PortalScreenshot(&portal_, DeadlineIn(kPortalMs), &picture_);
      portal::ClosePortal(&portal_);
      source_ = Source::kNone;
      if (!ok) {
        Close();
        return false;
      }
      portalPicture_ = true;
      frame->width = picture_.width;
      frame->height = picture_.height;
      frame->format = picture_.format;
    }
    if (!ok) {
      EndCapture();
      Disconnect(&session_);
    }
    framing_ = ok;
    return ok;
  }

  bool ReadPixels(const Frame &frame, int x, int y, int w, int h, uint8_t *dst,
                  ptrdiff_t dstStride) override {
    if (described_) {
      const bool taken = TakeCapture();
      ReleaseCaptures();
      if (!taken) {
        // A compositor that failed the copy may have ended the connection.
        Disconnect(&session_);
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

  // The connection stays while a bitmap holds the picture.
  void EndFrame() override {
    framing_ = false;
    EndCapture();
    if (!lent_) Disconnect(&session_);
  }

  // The picture itself, before it is taken, for a bitmap of the frame's
  // size: shared memory the compositor can write into, and the copy is
  // composed straight into the bitmap. It outlives the frame until given
  // back, and is then kept for the next call's bitmap.
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
      lent_ = picture_.pixels;
      return lent_;
    }
    size_t size = 0;
    if (picture_.pixels ||
        !PictureBytes(w, h, frame.format, size_t(stride), &size))
      return nullptr;
    // Memory kept by the parent of a forked child is shared with it.
    if (kept_.data && (keptOwner_ != getpid() || kept_.size != size))
      DestroyShmMemory(&kept_);
    stale_ = kept_.data != nullptr;
    if (stale_) {
      lentMemory_ = kept_;
      kept_ = ShmMemory{-1, nullptr, 0};
    } else if (!CreateShmMemory(size, &lentMemory_)) {
      return nullptr;
    }
    picture_ = Picture{w, h, size_t(stride), frame.format, lentMemory_.data};
    lent_ = lentMemory_.data;
    return lent_;
  }

  void ReturnPixels(uint8_t *pixels) override {
    if (!pixels || pixels != lent_) return;
    if (picture_.pixels == lent_) memset(&picture_, 0, sizeof picture_);
    if (lentByPortal_) {
      // The portal's decoded picture: the bitmap held it last.
      Picture returned = {};
      returned.pixels = lent_;
      FreePicture(&returned);
      lentByPortal_ = false;
    } else {
      DestroyShmMemory(&kept_);
      if (closed_) {
        DestroyShmMemory(&lentMemory_);
      } else {
        kept_ = lentMemory_;
        keptOwner_ = getpid();
      }
      lentMemory_ = ShmMemory{-1, nullptr, 0};
    }
    lent_ = nullptr;
    // The call is over unless a frame is still going on.
    if (!framing_) Disconnect(&session_);
  }

 private:
  // Whether the connection kept for this call can serve its next frame: the
  // same socket, this process's, no output come or gone, and it still
  // answers.
  bool Reusable(const char *socket, const Deadline &deadline) {
    if (!session_.display || owner_ != getpid() || !SameSocket(socket, false) ||
        !session_.xdgOutputManager || session_.outputsChanged)
      return false;
    return Roundtrip(session_.display, deadline) && !session_.outputsChanged;
  }

  // Whether socket (named as WAYLAND_DISPLAY names one, against
  // XDG_RUNTIME_DIR as it is now) is the socket of the kept connection;
  // with remember, it is taken as the socket from now on.
  bool SameSocket(const char *socket, bool remember) {
    char where[sizeof socket_];
    if (!SocketPath(socket, where, sizeof where)) {
      if (remember) socket_[0] = 0;
      return false;
    }
    if (remember) memcpy(socket_, where, sizeof where);
    return strcmp(socket_, where) == 0;
  }

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
    OutputImage images[kMaxOutputs];
    Placement placements[kMaxOutputs];
    Gather(images, placements);
    int64_t offsets[kMaxOutputs];
    for (int i = 0; i < captures_.count; ++i) offsets[i] = -1;
    captures_.into = nullptr;
    if (lent_ && picture_.pixels == lent_) {
      PlaceInPicture(placements, images, captures_.count, picture_, offsets);
      captures_.into = &lentMemory_;
      // Kept memory holds the last picture: the gaps between outputs must
      // be black again (a lone output covers the whole picture).
      if (stale_ && captures_.count > 1)
        memset(picture_.pixels, 0, picture_.stride * size_t(picture_.height));
    }
    bool inPlace[kMaxOutputs];
    for (int i = 0; i < captures_.count; ++i) {
      captures_.outputs[i].offset = offsets[i];
      inPlace[i] = offsets[i] >= 0;
    }
    if (!method_->Copy(&session_, DeadlineIn(kCaptureMs), &captures_))
      return false;
    Gather(images, placements);
    return Compose(placements, images, captures_.count, &picture_, inPlace);
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

  // The capture's requests and buffers; the connection stays.
  void ReleaseCaptures() {
    if (described_) method_->Release(&captures_);
    described_ = false;
  }

  // The frame is over: its picture and requests go, and the next frame
  // begins with open.
  void EndCapture() {
    DropPicture();
    ReleaseCaptures();
    source_ = Source::kNone;
    method_ = nullptr;
  }

  Session session_ = {};
  Captures captures_ = {};
  bool described_ = false;      // captures_ holds requests
  uint8_t *lent_ = nullptr;     // picture memory a bitmap holds
  bool portalPicture_ = false;  // picture_ is the portal's, not composed here
  bool lentByPortal_ = false;   // lent_ is the portal's picture of lentFrame_
  Frame lentFrame_ = {};
  ShmMemory lentMemory_ = {-1, nullptr, 0};
  // Lent memory given back, for the next call's bitmap.
  ShmMemory kept_ = {-1, nullptr, 0};
  pid_t keptOwner_ = 0;
  bool stale_ = false;    // the lent memory holds an earlier picture
  bool closed_ = false;   // closed at unload: nothing more is kept
  bool framing_ = false;  // between BeginFrame and EndFrame
  char socket_[256] = {};
  portal::Portal portal_ = {};
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
