#include "portal_screenshot.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "bus_connection.h"
#include "dbus_calls.h"
#include "portal_file.h"
#include "wincrt.h"

namespace kplat {
namespace portal {
namespace {

const char kPortalName[] = "org.freedesktop.portal.Desktop";
const char kPortalPath[] = "/org/freedesktop/portal/desktop";
const char kScreenshot[] = "org.freedesktop.portal.Screenshot";
const char kRequest[] = "org.freedesktop.portal.Request";
const char kRequestPrefix[] = "/org/freedesktop/portal/desktop/request/";

// Closing a request is a courtesy that must not hold the call long.
const int kCloseMs = 200;

// A method return of the given signature from sender (NULL: any), or NULL;
// reply is consumed either way.
DBusMessage *Expect(DBusMessage *reply, const char *signature,
                    const char *sender) {
  if (!reply) return nullptr;
  const char *from = Dbus().message_get_sender(reply);
  if (Dbus().message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN &&
      Dbus().message_has_signature(reply, signature) &&
      (!sender || (from && strcmp(from, sender) == 0)))
    return reply;
  Dbus().message_unref(reply);
  return nullptr;
}

// A call to the bus itself with one string argument.
DBusMessage *AskBus(DBusConnection *bus, const char *method, const char *arg,
                    const char *signature, const Deadline &deadline) {
  DBusMessage *call = Dbus().message_new_method_call(
      DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, method);
  if (call && !Dbus().message_append_args(call, DBUS_TYPE_STRING, &arg,
                                          DBUS_TYPE_INVALID)) {
    Dbus().message_unref(call);
    return nullptr;
  }
  return Expect(CallWithin(bus, call, deadline), signature, DBUS_SERVICE_DBUS);
}

// Subscribes to the Response signals that the portal sends on this
// connection's requests. The subscription comes before the call, so an
// early answer is not missed; the bus passes on no other sender's.
bool WatchRequests(const Portal &portal, const char *sender,
                   const Deadline &deadline) {
  char rule[512];
  const int n = snprintf(rule, sizeof rule,
                         "type='signal',sender='%s',interface='%s',"
                         "member='Response',path_namespace='%s%s'",
                         portal.owner, kRequest, kRequestPrefix, sender);
  if (n < 0 || size_t(n) >= sizeof rule) return false;
  DBusMessage *reply = AskBus(portal.bus, "AddMatch", rule, "", deadline);
  if (reply) Dbus().message_unref(reply);
  return reply != nullptr;
}

bool AppendOption(DBusMessageIter *dict, const char *key, int type,
                  const void *value) {
  const char signature[2] = {char(type), 0};
  DBusMessageIter entry, variant;
  return Dbus().message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr,
                                            &entry) &&
         Dbus().message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key) &&
         Dbus().message_iter_open_container(&entry, DBUS_TYPE_VARIANT,
                                            signature, &variant) &&
         Dbus().message_iter_append_basic(&variant, type, value) &&
         Dbus().message_iter_close_container(&entry, &variant) &&
         Dbus().message_iter_close_container(dict, &entry);
}

// Screenshot("", {handle_token, interactive: false, modal: false}): the
// request's object path, as the portal returned it, copied into handle.
bool RequestScreenshot(const Portal &portal, const char *token,
                       const Deadline &deadline, char *handle, size_t room) {
  DBusMessage *call = Dbus().message_new_method_call(portal.owner, kPortalPath,
                                                     kScreenshot, "Screenshot");
  if (!call) return false;
  DBusMessageIter args, dict;
  const char *parent = "";
  const dbus_bool_t no = FALSE;
  Dbus().message_iter_init_append(call, &args);
  const bool built =
      Dbus().message_iter_append_basic(&args, DBUS_TYPE_STRING, &parent) &&
      Dbus().message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}",
                                         &dict) &&
      AppendOption(&dict, "handle_token", DBUS_TYPE_STRING, &token) &&
      AppendOption(&dict, "interactive", DBUS_TYPE_BOOLEAN, &no) &&
      AppendOption(&dict, "modal", DBUS_TYPE_BOOLEAN, &no) &&
      Dbus().message_iter_close_container(&args, &dict);
  if (!built) {
    Dbus().message_unref(call);
    return false;
  }
  DBusMessage *reply =
      Expect(CallWithin(portal.bus, call, deadline), "o", portal.owner);
  if (!reply) return false;
  const char *path = nullptr;
  const bool ok = Dbus().message_get_args(reply, nullptr, DBUS_TYPE_OBJECT_PATH,
                                          &path, DBUS_TYPE_INVALID) &&
                  strlen(path) < room;
  if (ok) strcpy(handle, path);
  Dbus().message_unref(reply);
  return ok;
}

// Waits for the portal's own answer on handle: the Response signal from
// the portal's unique name, on that path, well typed. Anything else is
// dropped and the wait goes on until the deadline.
Answer AwaitAnswer(const Portal &portal, const char *handle,
                   const Deadline &deadline, char *path, size_t room) {
  for (;;) {
    while (DBusMessage *message = Dbus().connection_pop_message(portal.bus)) {
      const char *from = Dbus().message_get_sender(message);
      Answer answer = Answer::kMalformed;
      if (Dbus().message_is_signal(message, kRequest, "Response") &&
          Dbus().message_has_path(message, handle) && from &&
          strcmp(from, portal.owner) == 0)
        answer = ReadAnswer(message, path, room);
      Dbus().message_unref(message);
      if (answer != Answer::kMalformed) return answer;
    }
    if (!ReadWithin(portal.bus, deadline)) return Answer::kMalformed;
  }
}

// Withdraws a request that was not answered in time, so that no dialog or
// file outlives it.
void CloseRequest(const Portal &portal, const char *handle) {
  DBusMessage *call =
      Dbus().message_new_method_call(portal.owner, handle, kRequest, "Close");
  if (!call) return;
  Dbus().message_set_no_reply(call, TRUE);
  if (Dbus().connection_send(portal.bus, call, nullptr))
    FlushWithin(portal.bus, DeadlineIn(kCloseMs));
  Dbus().message_unref(call);
}

}  // namespace

Answer ReadAnswer(DBusMessage *response, char *path, size_t room) {
  // The signature is checked before anything is read: every key is then a
  // string and every value a variant.
  if (!Dbus().message_has_signature(response, "ua{sv}"))
    return Answer::kMalformed;
  DBusMessageIter args, dict;
  dbus_uint32_t code = 0;
  Dbus().message_iter_init(response, &args);
  Dbus().message_iter_get_basic(&args, &code);
  // 1 is a user's no; GNOME's portal answers a refusal, given or stored,
  // with 2 ("ended in some other way"), as does a backend that failed.
  // Either way the desktop did not give its picture.
  if (code != 0) return Answer::kRefused;
  Dbus().message_iter_next(&args);
  for (Dbus().message_iter_recurse(&args, &dict);
       Dbus().message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY;
       Dbus().message_iter_next(&dict)) {
    DBusMessageIter entry, variant;
    const char *key = nullptr, *uri = nullptr;
    Dbus().message_iter_recurse(&dict, &entry);
    Dbus().message_iter_get_basic(&entry, &key);
    if (strcmp(key, "uri") != 0) continue;
    Dbus().message_iter_next(&entry);
    Dbus().message_iter_recurse(&entry, &variant);
    if (Dbus().message_iter_get_arg_type(&variant) != DBUS_TYPE_STRING)
      return Answer::kMalformed;
    Dbus().message_iter_get_basic(&variant, &uri);
    return UriToPath(uri, path, room) ? Answer::kFile : Answer::kEnded;
  }
  return Answer::kEnded;
}

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
  memset(portal, 0, sizeof *portal);
  portal->bus = ConnectSessionBus(deadline);
  if (!portal->bus) return false;
  // Reading the interface's version asks the portal to start if it is not
  // running, and tells whether it offers Screenshot at all.
  DBusMessage *call = Dbus().message_new_method_call(
      kPortalName, kPortalPath, DBUS_INTERFACE_PROPERTIES, "Get");
  const char *interface = kScreenshot, *property = "version";
  if (call && !Dbus().message_append_args(call, DBUS_TYPE_STRING, &interface,
                                          DBUS_TYPE_STRING, &property,
                                          DBUS_TYPE_INVALID)) {
    Dbus().message_unref(call);
    call = nullptr;
  }
  DBusMessage *offered =
      Expect(CallWithin(portal->bus, call, deadline), "v", nullptr);
  // Who answers for the name now: only that connection's answers count,
  // and only files of the user it runs as are read.
  DBusMessage *owner =
      offered ? AskBus(portal->bus, "GetNameOwner", kPortalName, "s", deadline)
              : nullptr;
  const char *name = nullptr;
  bool ok = owner &&
            Dbus().message_get_args(owner, nullptr, DBUS_TYPE_STRING, &name,
                                    DBUS_TYPE_INVALID) &&
            strlen(name) < sizeof portal->owner;
  if (ok) strcpy(portal->owner, name);
  DBusMessage *user = ok ? AskBus(portal->bus, "GetConnectionUnixUser",
                                  portal->owner, "u", deadline)
                         : nullptr;
  dbus_uint32_t uid = 0;
  ok = user && Dbus().message_get_args(user, nullptr, DBUS_TYPE_UINT32, &uid,
                                       DBUS_TYPE_INVALID);
  portal->uid = uid_t(uid);
  DBusMessage *replies[] = {offered, owner, user};
  for (DBusMessage *reply : replies)
    if (reply) Dbus().message_unref(reply);
  if (!ok) ClosePortal(portal);
  return ok;
}

bool PortalScreenshot(Portal *portal, const Deadline &deadline,
                      Picture *picture) {
  memset(picture, 0, sizeof *picture);
  const char *unique =
      portal->bus ? Dbus().bus_get_unique_name(portal->bus) : nullptr;
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
  if (!WatchRequests(*portal, sender, deadline) ||
      !RequestScreenshot(*portal, token, deadline, handle, sizeof handle))
    return false;
  switch (AwaitAnswer(*portal, handle, deadline, path, sizeof path)) {
    case Answer::kFile:
      return TakePortalFile(path, portal->uid, picture);
    case Answer::kRefused:
      _note_call_errno(EACCES);  // refused, now or by a stored answer
      return false;
    case Answer::kEnded:
      return false;
    case Answer::kMalformed:
      break;
  }
  CloseRequest(*portal, handle);
  _note_call_errno(ETIMEDOUT);
  return false;
}

void ClosePortal(Portal *portal) {
  CloseBus(portal->bus);
  memset(portal, 0, sizeof *portal);
}

}  // namespace portal
}  // namespace kplat
