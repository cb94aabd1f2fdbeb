// The portal's Response signal as any peer on the bus could send it: the
// bytes are a D-Bus message (libdbus checks its framing, as it does for
// what arrives on the socket), and the answer read from it must be one of
// the four, with a path only for a file:// answer, NUL-terminated within
// its buffer.
#include <dbus/dbus.h>
#include <stdlib.h>
#include <string.h>

#include "dbus_calls.h"
#include "portal_screenshot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (!kplat::portal::LoadDBus()) abort();
  DBusError error;
  dbus_error_init(&error);
  DBusMessage *message = dbus_message_demarshal(
      reinterpret_cast<const char *>(data), int(size), &error);
  dbus_error_free(&error);
  if (!message) return 0;
  // Room for a short path too, so that overlong ones are refused.
  const size_t rooms[] = {4096, 8};
  for (const size_t room : rooms) {
    char path[4096];
    memset(path, 'x', sizeof path);
    const kplat::portal::Answer answer =
        kplat::portal::ReadAnswer(message, path, room);
    if (answer == kplat::portal::Answer::kFile &&
        (path[0] != '/' || memchr(path, 0, room) == nullptr))
      abort();
  }
  dbus_message_unref(message);
  return 0;
}
