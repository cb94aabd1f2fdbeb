// Waiting for the X server with a bound. A server that is stopped, never
// answers, or is grabbed by another client would otherwise hold a call for
// ever: every reply the platform waits for is waited for here instead.
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <xcb/xcb.h>

namespace kplat {
namespace x11 {

// How long the server may take to answer one request (or the connection
// setup): generous for a busy server, short enough for a host's call.
const int kReplyTimeoutMs = 2000;

// A point in time kReplyTimeoutMs (or ms) from now, on the monotonic clock.
class Deadline {
 public:
  Deadline();
  explicit Deadline(int ms);
  // Milliseconds left, 0 once passed.
  int RemainingMs() const;

 private:
  int64_t endNs_;
};

// Waits until fd is ready for events (POLLIN, POLLOUT) or the deadline
// passes; signals do not cut the wait short. False on timeout or error.
bool WaitForDescriptor(int fd, short events, const Deadline &deadline);

// The reply (or error) to request number sequence: true when the server
// answered, with *reply or *error set (each may be NULL, e.g. for a void
// request that succeeded); to be freed by the caller. False when no answer
// came within the bound or the connection broke; a connection that timed out
// is marked stale (see StaleConnection) and is given up by the next call,
// so a late reply can never be taken for the answer to another request.
bool WaitForReply(xcb_connection_t *conn, unsigned int sequence, void **reply,
                  xcb_generic_error_t **error);

// As WaitForReply, for the reply of a typed request (cookie.sequence):
// NULL when there was none (error, timeout); *error as above when given.
template <typename Reply, typename Cookie>
Reply *ReplyWithin(xcb_connection_t *conn, Cookie cookie,
                   xcb_generic_error_t **error = nullptr) {
  void *reply = nullptr;
  xcb_generic_error_t *e = nullptr;
  if (!WaitForReply(conn, cookie.sequence, &reply, &e)) return nullptr;
  if (error)
    *error = e;
  else
    free(e);
  return static_cast<Reply *>(reply);
}

// xcb_request_check with a bound: true when the checked void request was
// carried out, false when it failed (*error set when the server said why,
// if error is given) or no answer came in time.
bool CheckWithin(xcb_connection_t *conn, xcb_void_cookie_t cookie,
                 xcb_generic_error_t **error = nullptr);

// Waits until the server has answered every request sent so far, e.g. the
// ones libxcb sends itself for xcb_prefetch_extension_data and
// xcb_prefetch_maximum_request_length, whose results are then at hand
// without blocking. False on timeout or a broken connection.
bool SyncWithin(xcb_connection_t *conn);

// Whether conn timed out waiting for the server (or broke): nothing more
// is asked on it.
bool StaleConnection(xcb_connection_t *conn);

}  // namespace x11
}  // namespace kplat
