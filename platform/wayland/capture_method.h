// A way of copying every output of a session into memory. Screencopy is one;
// a method for another capture protocol sits beside it behind this
// interface.
#pragma once

#include "wl_compose.h"
#include "wl_session.h"
#include "wl_shm_buffer.h"

namespace kplat {
namespace wl {

// The outputs' pixels once captured; the memory stays valid until
// ReleaseCaptures.
struct Captures {
  OutputImage images[kMaxOutputs];
  ShmBuffer buffers[kMaxOutputs];
  int count;
};

class CaptureMethod {
 public:
  virtual ~CaptureMethod() = default;
  // Whether the session's compositor offers this method.
  virtual bool Offered(const Session &session) const = 0;
  // Copies every output of the session, in the session's output order.
  // False (holding nothing) when any output fails or the deadline passes.
  virtual bool CaptureAll(Session *session, const Deadline &deadline,
                          Captures *captures) const = 0;
};

// The methods in the order they are tried.
const CaptureMethod *const *CaptureMethods(int *count);

void ReleaseCaptures(Captures *captures);

}  // namespace wl
}  // namespace kplat
