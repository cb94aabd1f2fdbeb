// The desktop portal's Screenshot, for compositors that offer no capture
// protocol of their own (GNOME, KDE). Spoken over libdbus: it needs no
// system service beyond the session bus (sd-bus would tie the library to
// libsystemd), and a private connection that never ends the process on
// disconnect.
#pragma once

#include <stddef.h>

#include "wl_picture.h"
#include "wl_wait.h"

struct DBusConnection;

namespace kplat {
namespace wl {

struct Portal {
  DBusConnection *bus;
};

// A private connection to the session bus named now, kept only when a
// portal there answers for Screenshot in time.
bool OpenPortal(Portal *portal, const Deadline &deadline);

// Asks for a screenshot without dialog, waits for the answer, reads the
// picture and deletes the file. False on denial, cancellation, timeout or
// an unreadable file.
bool PortalScreenshot(Portal *portal, const Deadline &deadline,
                      Picture *picture);

void ClosePortal(Portal *portal);

// The local path a file:// URI names, percent-escapes decoded; false for
// another scheme or host, or a path longer than room.
bool UriToPath(const char *uri, char *path, size_t room);

}  // namespace wl
}  // namespace kplat
