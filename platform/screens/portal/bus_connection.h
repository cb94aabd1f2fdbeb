// A private connection to the session bus with every wait bounded: libdbus
// connects with a blocking connect and registers and flushes with waits of
// its own (a stopped bus, or one that accepts and never speaks, would hold
// the call for ever), so the socket, the registration and every exchange
// are driven here against a deadline.
#pragma once

#include "deadline.h"

struct DBusConnection;
struct DBusMessage;

namespace kplat {
namespace portal {

// The bus that DBUS_SESSION_BUS_ADDRESS (else $XDG_RUNTIME_DIR/bus) names
// now, connected and registered before the deadline; NULL otherwise, with
// nothing held. Only unix-socket addresses are used.
DBusConnection *ConnectSessionBus(const Deadline &deadline);

// Sends call (consumed) and waits for its reply, a return or an error;
// NULL when none came before the deadline. Other messages that arrive
// meanwhile are dropped.
DBusMessage *CallWithin(DBusConnection *bus, DBusMessage *call,
                        const Deadline &deadline);

// Sends what is queued; false when the deadline passed first.
bool FlushWithin(DBusConnection *bus, const Deadline &deadline);

// Reads what the bus sends until the deadline; false when it passed, or
// the connection failed, with nothing read.
bool ReadWithin(DBusConnection *bus, const Deadline &deadline);

void CloseBus(DBusConnection *bus);

}  // namespace portal
}  // namespace kplat
