#include "bus_connection.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "dbus_calls.h"

namespace kplat {
namespace portal {
namespace {

// Connecting and registering: a bus is a local process that answers in
// milliseconds.
const int kBusMs = 2000;

// The session bus's address as this call finds it: DBUS_SESSION_BUS_ADDRESS,
// else the socket in XDG_RUNTIME_DIR. Asked at every call (libdbus's own
// session bus lookup keeps the first answer for the life of the process),
// and never a bus started for the purpose, as libdbus would otherwise do.
bool SessionBusAddress(char *address, size_t room) {
  const char *given = getenv("DBUS_SESSION_BUS_ADDRESS");
  if (given && *given) {
    if (strlen(given) >= room) return false;
    strcpy(address, given);
    return true;
  }
  const char *dir = getenv("XDG_RUNTIME_DIR");
  if (!dir || !*dir) return false;
  const int n = snprintf(address, room, "unix:path=%s/bus", dir);
  struct stat st;
  return n > 0 && size_t(n) < room && stat(address + 10, &st) == 0 &&
         S_ISSOCK(st.st_mode);
}

// A socket connected to one unix: entry of the address before the
// deadline, or -1. A full listen queue refuses a non-blocking connect and
// tells nothing when room comes, so the connect is tried again shortly.
int ConnectEntry(DBusAddressEntry *entry, const Deadline &deadline) {
  if (strcmp(Dbus().address_entry_get_method(entry), "unix") != 0) return -1;
  const char *path = Dbus().address_entry_get_value(entry, "path");
  const char *abstract = Dbus().address_entry_get_value(entry, "abstract");
  sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const char *name = path ? path : abstract;
  const size_t skip = path ? 0 : 1;  // an abstract name follows a NUL
  if (!name || skip + strlen(name) + 1 > sizeof address.sun_path) return -1;
  memcpy(address.sun_path + skip, name, strlen(name));
  const socklen_t size =
      socklen_t(offsetof(sockaddr_un, sun_path) + skip + strlen(name) + !skip);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  for (;;) {
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), size) == 0)
      return fd;
    const int ms = RemainingMs(deadline);
    if ((errno != EAGAIN && errno != EINTR) || ms == 0) break;
    poll(nullptr, 0, ms < 10 ? ms : 10);
  }
  close(fd);
  return -1;
}

// libdbus cannot take a socket connected elsewhere: it is given one of
// ours to connect to (at once: a fresh listener of this process, with an
// unused name the kernel picks), and the bus's socket then takes that
// socket's descriptor number before libdbus has sent a byte (it speaks
// first at its first read or write).
DBusConnection *Adopt(int fd) {
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return nullptr;
  sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  socklen_t size = sizeof(sa_family_t);
  DBusConnection *bus = nullptr;
  char text[64];
  if (bind(listener, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
      listen(listener, 4) == 0 &&
      (size = sizeof address,
       getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) ==
           0)) {
    // The kernel's name: a NUL and five hexadecimal digits.
    const size_t length = size - offsetof(sockaddr_un, sun_path);
    if (length >= 2 && length < 20 && address.sun_path[0] == 0) {
      snprintf(text, sizeof text, "unix:abstract=%.*s", int(length - 1),
               address.sun_path + 1);
      DBusError error;
      Dbus().error_init(&error);
      bus = Dbus().connection_open_private(text, &error);
      Dbus().error_free(&error);
    }
  }
  int slot = -1;
  if (bus && (!Dbus().connection_get_unix_fd(bus, &slot) ||
              dup3(fd, slot, O_CLOEXEC) != slot)) {
    CloseBus(bus);
    bus = nullptr;
  }
  close(listener);
  return bus;
}

// Hello, the first message every client sends: the reply names the
// connection on the bus.
bool Register(DBusConnection *bus, const Deadline &deadline) {
  DBusMessage *reply = CallWithin(
      bus,
      Dbus().message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                     DBUS_INTERFACE_DBUS, "Hello"),
      deadline);
  if (!reply) return false;
  const char *name = nullptr;
  const bool ok =
      Dbus().message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN &&
      Dbus().message_has_signature(reply, "s") &&
      Dbus().message_get_args(reply, nullptr, DBUS_TYPE_STRING, &name,
                              DBUS_TYPE_INVALID) &&
      Dbus().bus_set_unique_name(bus, name);
  Dbus().message_unref(reply);
  return ok;
}

}  // namespace

DBusConnection *ConnectSessionBus(const Deadline &outer) {
  char address[4200];
  if (!SessionBusAddress(address, sizeof address) || !LoadDBus())
    return nullptr;
  Deadline deadline = DeadlineIn(kBusMs);
  if (outer.atMs < deadline.atMs) deadline = outer;
  DBusAddressEntry **entries = nullptr;
  int count = 0;
  if (!Dbus().parse_address(address, &entries, &count, nullptr)) return nullptr;
  int fd = -1;
  for (int i = 0; i < count && fd < 0; ++i)
    fd = ConnectEntry(entries[i], deadline);
  Dbus().address_entries_free(entries);
  if (fd < 0) return nullptr;
  // libdbus would otherwise ignore SIGPIPE for the whole host; its writes
  // pass MSG_NOSIGNAL anyway.
  Dbus().connection_set_change_sigpipe(FALSE);
  DBusConnection *bus = Adopt(fd);
  close(fd);
  if (!bus) return nullptr;
  Dbus().connection_set_exit_on_disconnect(bus, FALSE);
  if (!Register(bus, deadline)) {
    CloseBus(bus);
    return nullptr;
  }
  return bus;
}

DBusMessage *CallWithin(DBusConnection *bus, DBusMessage *call,
                        const Deadline &deadline) {
  if (!call) return nullptr;
  dbus_uint32_t serial = 0;
  const bool sent = Dbus().connection_send(bus, call, &serial);
  Dbus().message_unref(call);
  if (!sent) return nullptr;
  for (;;) {
    while (DBusMessage *message = Dbus().connection_pop_message(bus)) {
      const int type = Dbus().message_get_type(message);
      if ((type == DBUS_MESSAGE_TYPE_METHOD_RETURN ||
           type == DBUS_MESSAGE_TYPE_ERROR) &&
          Dbus().message_get_reply_serial(message) == serial)
        return message;
      Dbus().message_unref(message);
    }
    if (!ReadWithin(bus, deadline)) return nullptr;
  }
}

bool FlushWithin(DBusConnection *bus, const Deadline &deadline) {
  while (Dbus().connection_has_messages_to_send(bus)) {
    const int ms = RemainingMs(deadline);
    if (ms == 0 || !Dbus().connection_read_write(bus, ms)) return false;
  }
  return true;
}

bool ReadWithin(DBusConnection *bus, const Deadline &deadline) {
  const int ms = RemainingMs(deadline);
  return ms > 0 && Dbus().connection_read_write(bus, ms);
}

void CloseBus(DBusConnection *bus) {
  if (!bus) return;
  Dbus().connection_close(bus);
  Dbus().connection_unref(bus);
}

}  // namespace portal
}  // namespace kplat
