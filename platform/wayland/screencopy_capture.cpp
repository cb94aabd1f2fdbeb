// Capture through wlr-screencopy: one frame per output, all requested at
// once and answered together.
#include <string.h>
#include <wayland-client.h>

#include "capture_method.h"
#include "seam/test_seam.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace kplat {
namespace wl {
namespace {

// The frames of one capture: over once all are ready or one has failed.
struct Round {
  int pending;
  bool failed;
  bool over;
};

struct FrameState {
  Session *session;
  Round *round;
  zwlr_screencopy_frame_v1 *frame;
  ShmBuffer *buffer;
  OutputImage *image;
  bool offered;  // a wl_shm buffer was described
  bool copying;
  bool finished;
};

void Finish(FrameState *state, bool failed) {
  if (state->finished) return;
  state->finished = true;
  Round *round = state->round;
  round->failed = round->failed || failed;
  round->over = round->failed || --round->pending == 0;
}

// Asks for the copy into a buffer of exactly the offered shape.
void StartCopy(FrameState *state) {
  if (state->copying || state->finished) return;
  state->copying = true;
  const OutputImage &image = *state->image;
  const int32_t rows =
      image.height - (ShouldFail(KTEST_OP_WAYLAND_COPY) ? 1 : 0);
  if (!state->offered ||
      !CreateShmBuffer(state->session->shm, image.shmFormat, image.width, rows,
                       image.stride, state->buffer)) {
    Finish(state, true);
    return;
  }
  state->image->data = state->buffer->data;
  zwlr_screencopy_frame_v1_copy(state->frame, state->buffer->buffer);
}

void OnBuffer(void *data, zwlr_screencopy_frame_v1 *, uint32_t format,
              uint32_t width, uint32_t height, uint32_t stride) {
  FrameState *state = static_cast<FrameState *>(data);
  if (state->offered || width > INT32_MAX || height > INT32_MAX ||
      stride > INT32_MAX)
    return;
  state->offered = true;
  state->image->shmFormat = format;
  state->image->width = int32_t(width);
  state->image->height = int32_t(height);
  state->image->stride = int32_t(stride);
  // Before version 3 the buffer event is the only description.
  if (state->session->screencopyVersion < 3) StartCopy(state);
}

void OnFlags(void *data, zwlr_screencopy_frame_v1 *, uint32_t flags) {
  static_cast<FrameState *>(data)->image->yInvert =
      flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
}

void OnReady(void *data, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t,
             uint32_t) {
  Finish(static_cast<FrameState *>(data), false);
}

void OnFailed(void *data, zwlr_screencopy_frame_v1 *) {
  Finish(static_cast<FrameState *>(data), true);
}

void OnDamage(void *, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t, uint32_t,
              uint32_t) {}
void OnDmabuf(void *, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t,
              uint32_t) {}

void OnBufferDone(void *data, zwlr_screencopy_frame_v1 *) {
  StartCopy(static_cast<FrameState *>(data));
}

const zwlr_screencopy_frame_v1_listener kFrameListener = {
    OnBuffer, OnFlags, OnReady, OnFailed, OnDamage, OnDmabuf, OnBufferDone};

class Screencopy : public CaptureMethod {
 public:
  bool Offered(const Session &session) const override {
    return session.screencopy != nullptr && session.shm != nullptr;
  }

  bool CaptureAll(Session *session, const Deadline &deadline,
                  Captures *captures) const override {
    memset(captures, 0, sizeof *captures);
    FrameState states[kMaxOutputs];
    memset(states, 0, sizeof states);
    Round round = {0, false, false};
    bool ok = session->outputCount > 0;
    for (int i = 0; ok && i < session->outputCount; ++i) {
      FrameState *state = &states[i];
      state->session = session;
      state->round = &round;
      state->buffer = &captures->buffers[i];
      state->image = &captures->images[i];
      state->frame = zwlr_screencopy_manager_v1_capture_output(
          session->screencopy, 0, session->outputs[i].output);
      ok = state->frame != nullptr;
      if (ok) {
        zwlr_screencopy_frame_v1_add_listener(state->frame, &kFrameListener,
                                              state);
        ++round.pending;
      }
      captures->count = i + 1;
    }
    ok = ok && DispatchUntil(session->display, deadline, &round.over) &&
         !round.failed;
    for (int i = 0; i < captures->count; ++i)
      if (states[i].frame) zwlr_screencopy_frame_v1_destroy(states[i].frame);
    if (!ok) ReleaseCaptures(captures);
    return ok;
  }
};

const Screencopy kScreencopy;

}  // namespace

const CaptureMethod *const *CaptureMethods(int *count) {
  static const CaptureMethod *const kMethods[] = {&kScreencopy};
  *count = int(sizeof kMethods / sizeof kMethods[0]);
  return kMethods;
}

void ReleaseCaptures(Captures *captures) {
  for (int i = 0; i < captures->count; ++i)
    DestroyShmBuffer(&captures->buffers[i]);
  memset(captures, 0, sizeof *captures);
}

}  // namespace wl
}  // namespace kplat
