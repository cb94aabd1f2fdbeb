// Whether the X server is Xwayland. Its root window does not show the
// desktop: a plain read of it is refused and a shared-memory read comes
// back all zeros, which would pass for a black screen.
#pragma once

#include <xcb/xcb.h>

namespace kplat {
namespace x11 {

// Asked once per connection (three round trips, each within the X bound):
// true when the server's first RandR output is named XWAYLAND<n>, the names
// Xwayland gives its outputs (it advertises no extension of its own before
// version 23.1). A server without RandR, or one that does not answer, is
// not taken for Xwayland.
bool ServerIsXwayland(xcb_connection_t *conn, unsigned generation,
                      xcb_window_t root);

}  // namespace x11
}  // namespace kplat
