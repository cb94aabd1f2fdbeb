// Capture through wlr-screencopy: one frame per output, all requested at
// once and answered together.
#include <string.h>
#include <wayland-client.h>

#include "capture_method.h"
#include "hook.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace kplat {
namespace wl {
namespace {

void Settle(OutputCopy *copy, bool failed) {
  Round *round = copy->round;
  if (round->over) return;
  round->failed = round->failed || failed;
  round->over = round->failed || --round->pending == 0;
}

void Described(OutputCopy *copy) {
  if (copy->described) return;
  copy->described = true;
  Settle(copy, false);
}

zwlr_screencopy_frame_v1 *FrameOf(const OutputCopy &copy) {
  return static_cast<zwlr_screencopy_frame_v1 *>(copy.request);
}

void OnBuffer(void *data, zwlr_screencopy_frame_v1 *, uint32_t format,
              uint32_t width, uint32_t height, uint32_t stride) {
  OutputCopy *copy = static_cast<OutputCopy *>(data);
  if (copy->described || copy->image.width > 0) return;
  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX ||
      stride > INT32_MAX) {
    Settle(copy, true);
    return;
  }
  copy->image.shmFormat = format;
  copy->image.width = int32_t(width);
  copy->image.height = int32_t(height);
  copy->image.stride = int32_t(stride);
  // Before version 3 the buffer event is the only description.
  if (copy->session->screencopyVersion < 3) Described(copy);
}

void OnBufferDone(void *data, zwlr_screencopy_frame_v1 *) {
  OutputCopy *copy = static_cast<OutputCopy *>(data);
  // Only other kinds of buffer (dmabuf) were offered.
  if (copy->image.width == 0) {
    Settle(copy, true);
    return;
  }
  Described(copy);
}

void OnFlags(void *data, zwlr_screencopy_frame_v1 *, uint32_t flags) {
  static_cast<OutputCopy *>(data)->image.yInvert =
      flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
}

void OnReady(void *data, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t,
             uint32_t) {
  OutputCopy *copy = static_cast<OutputCopy *>(data);
  copy->copied = true;
  Settle(copy, false);
}

void OnFailed(void *data, zwlr_screencopy_frame_v1 *) {
  Settle(static_cast<OutputCopy *>(data), true);
}

void OnDamage(void *, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t, uint32_t,
              uint32_t) {}
void OnDmabuf(void *, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t,
              uint32_t) {}

const zwlr_screencopy_frame_v1_listener kFrameListener = {
    OnBuffer, OnFlags, OnReady, OnFailed, OnDamage, OnDmabuf, OnBufferDone};

// Waits until every output has answered this round.
bool Await(Session *session, const Deadline &deadline, Captures *captures) {
  return DispatchUntil(session->display, deadline, &captures->round.over) &&
         !captures->round.failed;
}

class Screencopy : public CaptureMethod {
 public:
  bool Offered(const Session &session) const override {
    return session.screencopy != nullptr && session.shm != nullptr;
  }

  bool Describe(Session *session, const Deadline &deadline,
                Captures *captures) const override {
    memset(captures, 0, sizeof *captures);
    if (session->outputCount <= 0) return false;
    for (int i = 0; i < session->outputCount; ++i) {
      OutputCopy *copy = &captures->outputs[i];
      copy->round = &captures->round;
      copy->session = session;
      copy->offset = -1;
      zwlr_screencopy_frame_v1 *frame =
          zwlr_screencopy_manager_v1_capture_output(session->screencopy, 0,
                                                    session->outputs[i].output);
      if (!frame) return false;
      copy->request = frame;
      zwlr_screencopy_frame_v1_add_listener(frame, &kFrameListener, copy);
      captures->count = i + 1;
    }
    captures->round = Round{captures->count, false, false};
    return Await(session, deadline, captures);
  }

  bool Copy(Session *session, const Deadline &deadline,
            Captures *captures) const override {
    captures->round = Round{captures->count, false, false};
    for (int i = 0; i < captures->count; ++i) {
      OutputCopy *copy = &captures->outputs[i];
      const OutputImage &image = copy->image;
      const int32_t rows =
          image.height - (ShouldFail(KTEST_OP_WAYLAND_COPY) ? 1 : 0);
      const bool straight = captures->into != nullptr && copy->offset >= 0;
      if (!copy->described ||
          !(straight
                ? CreateShmBufferIn(session->shm, *captures->into,
                                    size_t(copy->offset), image.shmFormat,
                                    image.width, rows, image.stride,
                                    &copy->buffer)
                : CreateShmBuffer(session->shm, image.shmFormat, image.width,
                                  rows, image.stride, &copy->buffer)))
        return false;
      copy->image.data = copy->buffer.data;
      zwlr_screencopy_frame_v1_copy(FrameOf(*copy), copy->buffer.buffer);
    }
    return Await(session, deadline, captures);
  }

  void Release(Captures *captures) const override {
    for (int i = 0; i < captures->count; ++i) {
      OutputCopy *copy = &captures->outputs[i];
      if (copy->request) zwlr_screencopy_frame_v1_destroy(FrameOf(*copy));
      DestroyShmBuffer(&copy->buffer);
    }
    memset(captures, 0, sizeof *captures);
  }
};

const Screencopy kScreencopy;

}  // namespace

const CaptureMethod *const *CaptureMethods(int *count) {
  static const CaptureMethod *const kMethods[] = {&kScreencopy};
  *count = int(sizeof kMethods / sizeof kMethods[0]);
  return kMethods;
}

}  // namespace wl
}  // namespace kplat
