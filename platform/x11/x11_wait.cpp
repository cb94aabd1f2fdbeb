#include "x11_wait.h"

#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <xcb/xcbext.h>

#include "wincrt.h"
#include "x11_connection.h"

namespace kplat {
namespace x11 {
namespace {

int64_t NowNs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

Deadline::Deadline() : Deadline(kReplyTimeoutMs) {}

Deadline::Deadline(int ms) : endNs_(NowNs() + int64_t(ms) * 1000000) {}

int Deadline::RemainingMs() const {
  const int64_t left = endNs_ - NowNs();
  if (left <= 0) return 0;
  // Rounded up, so a wait never ends just before the deadline.
  return int((left + 999999) / 1000000);
}

bool WaitForDescriptor(int fd, short events, const Deadline &deadline) {
  for (;;) {
    const int left = deadline.RemainingMs();
    if (left == 0) {
      _note_call_errno(ETIMEDOUT);
      return false;
    }
    struct pollfd p = {fd, events, 0};
    const int n = poll(&p, 1, left);
    if (n > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool WaitForReply(xcb_connection_t *conn, unsigned int sequence, void **reply,
                  xcb_generic_error_t **error) {
  *reply = nullptr;
  *error = nullptr;
  if (StaleConnection(conn) || xcb_flush(conn) <= 0) return false;
  const Deadline deadline;
  const int fd = xcb_get_file_descriptor(conn);
  for (;;) {
    // Reads what the socket holds, then looks for the answer; nothing may
    // read between this and the wait below, or an answer read there would
    // sit unnoticed while we wait for more.
    void *r = nullptr;
    xcb_generic_error_t *e = nullptr;
    if (xcb_poll_for_reply(conn, sequence, &r, &e)) {
      if (xcb_connection_has_error(conn)) {
        free(r);
        free(e);
        return false;
      }
      *reply = r;
      *error = e;
      return true;
    }
    // Errors of unchecked requests arrive as events; nobody reads them.
    while (xcb_generic_event_t *event = xcb_poll_for_queued_event(conn))
      free(event);
    if (xcb_connection_has_error(conn)) return false;
    if (!WaitForDescriptor(fd, POLLIN, deadline)) {
      MarkStale(conn);
      return false;
    }
  }
}

bool SyncWithin(xcb_connection_t *conn) {
  void *reply = nullptr;
  xcb_generic_error_t *error = nullptr;
  const bool answered =
      WaitForReply(conn, xcb_get_input_focus(conn).sequence, &reply, &error);
  free(reply);
  free(error);
  return answered;
}

bool CheckWithin(xcb_connection_t *conn, xcb_void_cookie_t cookie,
                 xcb_generic_error_t **error) {
  if (error) *error = nullptr;
  // Answers come in order: once a later request is answered, the checked
  // one's error, if it had one, is waiting to be taken.
  if (!SyncWithin(conn)) return false;
  void *reply = nullptr;
  xcb_generic_error_t *e = nullptr;
  const bool known = xcb_poll_for_reply(conn, cookie.sequence, &reply, &e);
  free(reply);
  const bool ok = known && e == nullptr && !xcb_connection_has_error(conn);
  if (error)
    *error = e;
  else
    free(e);
  return ok;
}

bool StaleConnection(xcb_connection_t *conn) {
  return xcb_connection_has_error(conn) || IsStale(conn);
}

}  // namespace x11
}  // namespace kplat
