#include "wl_wait.h"

#include <errno.h>
#include <poll.h>
#include <time.h>
#include <wayland-client.h>

#include "wincrt.h"

namespace kplat {
namespace wl {
namespace {

int64_t NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Polls the connection for events (or for room to write) until the deadline.
// 1 ready, 0 deadline passed, -1 error.
int WaitFor(int fd, short events, const Deadline &deadline) {
  for (;;) {
    struct pollfd p = {fd, events, 0};
    const int ready = poll(&p, 1, RemainingMs(deadline));
    if (ready > 0) return (p.revents & (events | POLLHUP | POLLERR)) ? 1 : -1;
    if (ready == 0) {
      _note_call_errno(ETIMEDOUT);
      return 0;
    }
    if (errno != EINTR) return -1;
  }
}

// Pushes out every queued request, waiting for room while the socket is
// full.
bool Flush(wl_display *display, const Deadline &deadline) {
  const int fd = wl_display_get_fd(display);
  while (wl_display_flush(display) < 0) {
    if (errno != EAGAIN || WaitFor(fd, POLLOUT, deadline) != 1) return false;
  }
  return true;
}

void SetDone(void *data, wl_callback *, uint32_t) {
  *static_cast<bool *>(data) = true;
}

const wl_callback_listener kSyncListener = {SetDone};

}  // namespace

Deadline DeadlineIn(int ms) { return Deadline{NowMs() + ms}; }

int RemainingMs(const Deadline &deadline) {
  const int64_t left = deadline.atMs - NowMs();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : int(left);
}

bool DispatchUntil(wl_display *display, const Deadline &deadline,
                   const bool *done) {
  const int fd = wl_display_get_fd(display);
  while (!*done) {
    if (wl_display_prepare_read(display) != 0) {
      // Events already queued come first.
      if (wl_display_dispatch_pending(display) < 0) return false;
      continue;
    }
    if (!Flush(display, deadline) || WaitFor(fd, POLLIN, deadline) != 1) {
      wl_display_cancel_read(display);
      return false;
    }
    if (wl_display_read_events(display) < 0 ||
        wl_display_dispatch_pending(display) < 0)
      return false;
  }
  return wl_display_get_error(display) == 0;
}

bool Roundtrip(wl_display *display, const Deadline &deadline) {
  bool done = false;
  wl_callback *callback = wl_display_sync(display);
  if (!callback) return false;
  wl_callback_add_listener(callback, &kSyncListener, &done);
  const bool ok = DispatchUntil(display, deadline, &done);
  wl_callback_destroy(callback);
  return ok;
}

}  // namespace wl
}  // namespace kplat
