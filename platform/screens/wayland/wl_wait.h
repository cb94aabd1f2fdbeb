// Bounded waits on a Wayland connection: every exchange with the compositor
// has a deadline, so a compositor that stops answering costs at most that.
#pragma once

#include <stdint.h>

#include "deadline.h"

struct wl_display;

namespace kplat {
namespace wl {

// Sends what is queued and dispatches events until *done is set. False when
// the deadline passes first or the connection fails.
bool DispatchUntil(wl_display *display, const Deadline &deadline,
                   const bool *done);

// Waits until the compositor has handled every request sent so far and its
// answers have been dispatched.
bool Roundtrip(wl_display *display, const Deadline &deadline);

}  // namespace wl
}  // namespace kplat
