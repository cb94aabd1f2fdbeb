// Connecting to an X server without letting libxcb speak. libxcb writes the
// reason a server refuses a connection ("Authorization required", "Maximum
// number of clients reached", ...) straight to descriptor 2, and waits for
// the server's answer without bound. So the socket, the authorization and
// the connection setup are done here, with a bound; libxcb is then handed
// the accepted setup (through a socket pair) and the server's socket.
#pragma once

#include <xcb/xcb.h>

#include "x11_setup.h"

namespace kplat {
namespace x11 {

// A connection to the server named by displayName (the X display syntax:
// [protocol/][host]:display[.screen]), and what its setup says of the
// screen it names; NULL when the name is malformed, the server cannot be
// reached, refuses us, does not answer within the reply bound (the host
// name's lookup included), or sends a setup that does not hold together.
// Nothing is printed and nothing is left open on failure.
xcb_connection_t *ConnectQuietly(const char *displayName, SetupFacts *facts);

}  // namespace x11
}  // namespace kplat
