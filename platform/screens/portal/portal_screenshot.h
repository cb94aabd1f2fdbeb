// The desktop portal's Screenshot, for compositors that offer no capture
// protocol of their own (GNOME, KDE). Spoken over libdbus: it needs no
// system service beyond the session bus (sd-bus would tie the library to
// libsystemd), and a private connection that never ends the process on
// disconnect.
#pragma once

#include <stddef.h>
#include <sys/types.h>

#include "deadline.h"
#include "picture.h"

struct DBusConnection;
struct DBusMessage;

namespace kplat {
namespace portal {

struct Portal {
  DBusConnection *bus;
  char owner[256];  // the portal's unique name on the bus
  uid_t uid;        // the user it runs as
};

// A private connection to the session bus named now, kept only when a
// portal there answers for Screenshot in time.
bool OpenPortal(Portal *portal, const Deadline &deadline);

// Asks once for a screenshot without dialog, waits for the portal's answer,
// reads the picture and deletes the file. False on refusal (errno EACCES),
// cancellation, timeout (ETIMEDOUT: the request is then closed) or a file
// that is not the portal's regular file or not a picture.
bool PortalScreenshot(Portal *portal, const Deadline &deadline,
                      Picture *picture);

void ClosePortal(Portal *portal);

// What a Response signal says, once its sender and path were checked.
enum class Answer {
  kMalformed,  // not Response(u, a{sv}) with a string "uri" on success
  kRefused,    // a nonzero response: the user, a stored choice or the
               // desktop said no
  kEnded,      // success without a file
  kFile,       // success: the path is in the caller's buffer
};
Answer ReadAnswer(DBusMessage *response, char *path, size_t room);

// The local path a file:// URI names, percent-escapes decoded; false for
// another scheme or host, or a path longer than room.
bool UriToPath(const char *uri, char *path, size_t room);

}  // namespace portal
}  // namespace kplat
