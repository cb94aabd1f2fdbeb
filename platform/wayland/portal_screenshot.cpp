#include "portal_screenshot.h"

#include <dbus/dbus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "png_picture.h"
#include "wincrt.h"

namespace kplat {
namespace wl {
namespace {

const char kPortalName[] = "org.freedesktop.portal.Desktop";
const char kPortalPath[] = "/org/freedesktop/portal/desktop";
const char kScreenshot[] = "org.freedesktop.portal.Screenshot";
const char kRequest[] = "org.freedesktop.portal.Request";
const char kRequestPrefix[] = "/org/freedesktop/portal/desktop/request/";

// A method call answered within the deadline; NULL on error or timeout.
DBusMessage *Call(DBusConnection *bus, DBusMessage *call,
                  const Deadline &deadline) {
  if (!call) return nullptr;
  DBusError error;
  dbus_error_init(&error);
  const int ms = RemainingMs(deadline);
  DBusMessage *reply =
      ms > 0 ? dbus_connection_send_with_reply_and_block(bus, call, ms, &error)
             : nullptr;
  dbus_error_free(&error);
  dbus_message_unref(call);
  return reply;
}

// Subscribes to the Response signals of this connection's requests. The
// subscription comes before the call, so an early answer is not missed.
bool WatchRequests(DBusConnection *bus, const char *sender,
                   const Deadline &deadline) {
  char rule[256];
  const int n = snprintf(rule, sizeof rule,
                         "type='signal',interface='%s',member='Response',"
                         "path_namespace='%s%s'",
                         kRequest, kRequestPrefix, sender);
  if (n < 0 || size_t(n) >= sizeof rule) return false;
  DBusMessage *call = dbus_message_new_method_call(
      DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "AddMatch");
  const char *text = rule;
  if (call && !dbus_message_append_args(call, DBUS_TYPE_STRING, &text,
                                        DBUS_TYPE_INVALID)) {
    dbus_message_unref(call);
    return false;
  }
  DBusMessage *reply = Call(bus, call, deadline);
  if (!reply) return false;
  const bool ok =
      dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
  dbus_message_unref(reply);
  return ok;
}

bool AppendOption(DBusMessageIter *dict, const char *key, int type,
                  const void *value) {
  const char signature[2] = {char(type), 0};
  DBusMessageIter entry, variant;
  return dbus_message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr,
                                          &entry) &&
         dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key) &&
         dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature,
                                          &variant) &&
         dbus_message_iter_append_basic(&variant, type, value) &&
         dbus_message_iter_close_container(&entry, &variant) &&
         dbus_message_iter_close_container(dict, &entry);
}

// Screenshot("", {handle_token, interactive: false, modal: false}): the
// request's object path, copied into handle.
bool RequestScreenshot(DBusConnection *bus, const char *token,
                       const Deadline &deadline, char *handle, size_t room) {
  DBusMessage *call = dbus_message_new_method_call(kPortalName, kPortalPath,
                                                   kScreenshot, "Screenshot");
  if (!call) return false;
  DBusMessageIter args, dict;
  const char *parent = "";
  const dbus_bool_t no = FALSE;
  dbus_message_iter_init_append(call, &args);
  const bool built =
      dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &parent) &&
      dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &dict) &&
      AppendOption(&dict, "handle_token", DBUS_TYPE_STRING, &token) &&
      AppendOption(&dict, "interactive", DBUS_TYPE_BOOLEAN, &no) &&
      AppendOption(&dict, "modal", DBUS_TYPE_BOOLEAN, &no) &&
      dbus_message_iter_close_container(&args, &dict);
  if (!built) {
    dbus_message_unref(call);
    return false;
  }
  DBusMessage *reply = Call(bus, call, deadline);
  if (!reply) return false;
  const char *path = nullptr;
  DBusError error;
  dbus_error_init(&error);
  bool ok = dbus_message_get_args(reply, &error, DBUS_TYPE_OBJECT_PATH, &path,
                                  DBUS_TYPE_INVALID) &&
            strlen(path) < room;
  if (ok) strcpy(handle, path);
  dbus_error_free(&error);
  dbus_message_unref(reply);
  return ok;
}

// The "uri" of a successful Response(u response, a{sv} results), as a
// local path; false for any other answer.
bool ResponsePath(DBusMessage *signal, char *path, size_t room) {
  DBusMessageIter args, dict;
  dbus_uint32_t response = 1;
  if (!dbus_message_iter_init(signal, &args) ||
      dbus_message_iter_get_arg_type(&args) != DBUS_TYPE_UINT32)
    return false;
  dbus_message_iter_get_basic(&args, &response);
  if (response != 0 || !dbus_message_iter_next(&args) ||
      dbus_message_iter_get_arg_type(&args) != DBUS_TYPE_ARRAY)
    return false;
  for (dbus_message_iter_recurse(&args, &dict);
       dbus_message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY;
       dbus_message_iter_next(&dict)) {
    DBusMessageIter entry, variant;
    const char *key = nullptr, *uri = nullptr;
    dbus_message_iter_recurse(&dict, &entry);
    dbus_message_iter_get_basic(&entry, &key);
    if (strcmp(key, "uri") != 0 || !dbus_message_iter_next(&entry)) continue;
    dbus_message_iter_recurse(&entry, &variant);
    if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_STRING)
      return false;
    dbus_message_iter_get_basic(&variant, &uri);
    return UriToPath(uri, path, room);
  }
  return false;
}

// Waits for the Response signal on handle.
DBusMessage *AwaitResponse(DBusConnection *bus, const char *handle,
                           const Deadline &deadline) {
  for (;;) {
    DBusMessage *message;
    while ((message = dbus_connection_pop_message(bus)) != nullptr) {
      if (dbus_message_is_signal(message, kRequest, "Response") &&
          dbus_message_has_path(message, handle))
        return message;
      dbus_message_unref(message);
    }
    const int ms = RemainingMs(deadline);
    if (ms == 0 || !dbus_connection_read_write(bus, ms)) return nullptr;
  }
}

// Withdraws a request that was not answered in time, so that no dialog or
// file outlives it.
void CloseRequest(DBusConnection *bus, const char *handle) {
  DBusMessage *call =
      dbus_message_new_method_call(kPortalName, handle, kRequest, "Close");
  if (!call) return;
  dbus_message_set_no_reply(call, TRUE);
  dbus_connection_send(bus, call, nullptr);
  dbus_connection_flush(bus);
  dbus_message_unref(call);
}

// The session bus as this call finds it: DBUS_SESSION_BUS_ADDRESS, else the
// socket in XDG_RUNTIME_DIR. Asked at every call (libdbus's own session
// bus lookup keeps the first answer for the life of the process), and never
// a bus started for the purpose, as libdbus would otherwise do.
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

}  // namespace

bool UriToPath(const char *uri, char *path, size_t room) {
  static const char kScheme[] = "file://";
  if (strncmp(uri, kScheme, sizeof kScheme - 1) != 0) return false;
  const char *p = uri + sizeof kScheme - 1;
  if (*p != '/') return false;  // only the local host
  size_t n = 0;
  for (; *p; ++p) {
    char c = *p;
    if (c == '%') {
      unsigned value = 0;
      if (sscanf(p + 1, "%2x", &value) != 1 || !p[1] || !p[2] || value == 0)
        return false;
      c = char(value);
      p += 2;
    }
    if (n + 1 >= room) return false;
    path[n++] = c;
  }
  path[n] = 0;
  return true;
}

bool OpenPortal(Portal *portal, const Deadline &deadline) {
  portal->bus = nullptr;
  char address[4200];
  if (!SessionBusAddress(address, sizeof address)) return false;
  // libdbus would otherwise ignore SIGPIPE for the whole host; its writes
  // pass MSG_NOSIGNAL anyway.
  dbus_connection_set_change_sigpipe(FALSE);
  DBusError error;
  dbus_error_init(&error);
  DBusConnection *bus = dbus_connection_open_private(address, &error);
  if (bus) {
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    if (!dbus_bus_register(bus, &error)) {
      dbus_connection_close(bus);
      dbus_connection_unref(bus);
      bus = nullptr;
    }
  }
  dbus_error_free(&error);
  if (!bus) return false;
  portal->bus = bus;
  // Reading the interface's version asks the portal to start if it is not
  // running, and tells whether it offers Screenshot at all.
  DBusMessage *call = dbus_message_new_method_call(
      kPortalName, kPortalPath, DBUS_INTERFACE_PROPERTIES, "Get");
  const char *interface = kScreenshot, *property = "version";
  if (call && !dbus_message_append_args(call, DBUS_TYPE_STRING, &interface,
                                        DBUS_TYPE_STRING, &property,
                                        DBUS_TYPE_INVALID)) {
    dbus_message_unref(call);
    call = nullptr;
  }
  DBusMessage *reply = Call(bus, call, deadline);
  const bool offered =
      reply && dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
  if (reply) dbus_message_unref(reply);
  if (!offered) ClosePortal(portal);
  return offered;
}

bool PortalScreenshot(Portal *portal, const Deadline &deadline,
                      Picture *picture) {
  DBusConnection *bus = portal->bus;
  const char *unique = bus ? dbus_bus_get_unique_name(bus) : nullptr;
  if (!unique || unique[0] != ':') return false;
  // The request's path is built from the unique name (":1.42" -> "1_42")
  // and a token of ours.
  char sender[128];
  if (strlen(unique) >= sizeof sender) return false;
  strcpy(sender, unique + 1);
  for (char *c = sender; *c; ++c)
    if (*c == '.') *c = '_';
  static unsigned serial = 0;
  char token[64];
  snprintf(token, sizeof token, "kestrel%ld_%u", long(getpid()), ++serial);

  char handle[256], path[4096];
  if (!WatchRequests(bus, sender, deadline) ||
      !RequestScreenshot(bus, token, deadline, handle, sizeof handle))
    return false;
  DBusMessage *response = AwaitResponse(bus, handle, deadline);
  if (!response) {
    _note_call_errno(ETIMEDOUT);
    CloseRequest(bus, handle);
    return false;
  }
  const bool answered = ResponsePath(response, path, sizeof path);
  dbus_message_unref(response);
  if (!answered) {
    _note_call_errno(EACCES);  // the request was denied or cancelled
    return false;
  }
  const bool ok = ReadPngPicture(path, picture);
  unlink(path);
  return ok;
}

void ClosePortal(Portal *portal) {
  if (!portal->bus) return;
  dbus_connection_close(portal->bus);
  dbus_connection_unref(portal->bus);
  portal->bus = nullptr;
}

}  // namespace wl
}  // namespace kplat
