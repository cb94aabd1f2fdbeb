// A way of copying every output of a session into memory, in two steps: the
// outputs first say how their pixels come (format, size, stride), which is
// all a frame needs to begin; the copy itself follows only when the pixels
// are read. Screencopy is one method; one for another capture protocol sits
// beside it behind this interface.
#pragma once

#include "wl_compose.h"
#include "wl_session.h"
#include "wl_shm_buffer.h"

namespace kplat {
namespace wl {

// The outputs' requests in flight: over once all have answered or one has
// failed.
struct Round {
  int pending;
  bool failed;
  bool over;
};

struct OutputCopy {
  OutputImage image;  // described first, data once copied
  ShmBuffer buffer;
  // Where in Captures::into the output is copied straight; -1: a buffer of
  // its own.
  int64_t offset;
  void *request;  // the method's own object for this output
  bool described;
  bool copied;
  Round *round;
  Session *session;
};

struct Captures {
  OutputCopy outputs[kMaxOutputs];
  int count;  // in the session's output order
  Round round;
  const ShmMemory *into;  // the picture's memory, or NULL
};

class CaptureMethod {
 public:
  // Whether the session's compositor offers this method.
  virtual bool Offered(const Session &session) const = 0;
  // Asks for every output and waits until each has described its pixels.
  // False when one fails or the deadline passes; Release is due either way.
  virtual bool Describe(Session *session, const Deadline &deadline,
                        Captures *captures) const = 0;
  // Copies every described output into memory of exactly the described
  // shape: at its offset in captures->into where it has one, else into a
  // buffer of its own. False when one fails or the deadline passes.
  virtual bool Copy(Session *session, const Deadline &deadline,
                    Captures *captures) const = 0;
  // Lets go of the requests and the memory.
  virtual void Release(Captures *captures) const = 0;

 protected:
  ~CaptureMethod() = default;  // methods live in static storage
};

// The methods in the order they are tried.
const CaptureMethod *const *CaptureMethods(int *count);

}  // namespace wl
}  // namespace kplat
