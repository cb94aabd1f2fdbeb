#include "fake_portal.h"

#include <dbus/dbus.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace ktest {
namespace {

const char kRequestPrefix[] = "/org/freedesktop/portal/desktop/request/";

DBusConnection *Join(const std::string &address) {
  DBusError error;
  dbus_error_init(&error);
  DBusConnection *bus = dbus_connection_open_private(address.c_str(), &error);
  if (bus && !dbus_bus_register(bus, &error)) {
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    bus = nullptr;
  }
  if (bus) dbus_connection_set_exit_on_disconnect(bus, FALSE);
  dbus_error_free(&error);
  return bus;
}

DBusMessage *Response(const std::string &path, const PortalAnswer &answer) {
  DBusMessage *signal = dbus_message_new_signal(
      path.c_str(), "org.freedesktop.portal.Request", "Response");
  DBusMessageIter args, dict, entry, variant;
  const dbus_uint32_t code = answer.kind == PortalAnswer::Kind::kRefusal;
  const bool mistyped = answer.kind == PortalAnswer::Kind::kMistyped;
  const char *uri = answer.uri.c_str(), *key = "uri";
  const dbus_uint32_t number = 7;
  dbus_message_iter_init_append(signal, &args);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &code);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY,
                                   mistyped ? "{uv}" : "{sv}", &dict);
  if (answer.kind != PortalAnswer::Kind::kRefusal) {
    dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr,
                                     &entry);
    if (mistyped)
      dbus_message_iter_append_basic(&entry, DBUS_TYPE_UINT32, &number);
    else
      dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
    if (answer.kind == PortalAnswer::Kind::kUriNotAString) {
      dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "u",
                                       &variant);
      dbus_message_iter_append_basic(&variant, DBUS_TYPE_UINT32, &number);
    } else {
      dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "s",
                                       &variant);
      dbus_message_iter_append_basic(&variant, DBUS_TYPE_STRING, &uri);
    }
    dbus_message_iter_close_container(&entry, &variant);
    dbus_message_iter_close_container(&dict, &entry);
  }
  dbus_message_iter_close_container(&args, &dict);
  return signal;
}

// The portal's side, in the child: serves until killed.
class Service {
 public:
  Service(DBusConnection *portal, DBusConnection *other,
          const std::vector<PortalAnswer> &answers, int events)
      : portal_(portal), other_(other), answers_(answers), events_(events) {}

  void Serve() {
    while (dbus_connection_read_write(portal_, -1)) {
      while (DBusMessage *message = dbus_connection_pop_message(portal_)) {
        Handle(message);
        dbus_message_unref(message);
      }
    }
  }

 private:
  void Note(char what) {
    if (write(events_, &what, 1) != 1) _exit(3);
  }

  void Handle(DBusMessage *message) {
    if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL) return;
    DBusMessage *reply = nullptr;
    std::string handle;
    if (dbus_message_is_method_call(message, "org.freedesktop.DBus.Properties",
                                    "Get")) {
      reply = dbus_message_new_method_return(message);
      DBusMessageIter args, variant;
      const dbus_uint32_t version = 1;
      dbus_message_iter_init_append(reply, &args);
      dbus_message_iter_open_container(&args, DBUS_TYPE_VARIANT, "u", &variant);
      dbus_message_iter_append_basic(&variant, DBUS_TYPE_UINT32, &version);
      dbus_message_iter_close_container(&args, &variant);
    } else if (dbus_message_is_method_call(message,
                                           "org.freedesktop.portal.Screenshot",
                                           "Screenshot")) {
      Note('S');
      std::string sender = dbus_message_get_sender(message) + 1;
      for (char &c : sender)
        if (c == '.') c = '_';
      // Any path under the caller's: it learns the path from the reply.
      handle = kRequestPrefix + sender + "/r" + std::to_string(++requests_);
      reply = dbus_message_new_method_return(message);
      const char *path = handle.c_str();
      dbus_message_append_args(reply, DBUS_TYPE_OBJECT_PATH, &path,
                               DBUS_TYPE_INVALID);
    } else if (dbus_message_is_method_call(
                   message, "org.freedesktop.portal.Request", "Close")) {
      Note('C');
      if (!dbus_message_get_no_reply(message))
        reply = dbus_message_new_method_return(message);
    } else {
      reply = dbus_message_new_error(message, DBUS_ERROR_UNKNOWN_METHOD, "no");
    }
    if (reply) {
      dbus_connection_send(portal_, reply, nullptr);
      dbus_connection_flush(portal_);
      dbus_message_unref(reply);
    }
    if (!handle.empty()) Answer(handle);
  }

  void Answer(const std::string &handle) {
    for (const PortalAnswer &answer : answers_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
      DBusConnection *from = answer.fromOtherClient ? other_ : portal_;
      DBusMessage *signal =
          Response(answer.wrongPath ? handle + "x" : handle, answer);
      dbus_connection_send(from, signal, nullptr);
      dbus_connection_flush(from);
      dbus_message_unref(signal);
    }
  }

  DBusConnection *portal_;
  DBusConnection *other_;
  const std::vector<PortalAnswer> &answers_;
  int events_;
  int requests_ = 0;
};

}  // namespace

std::string FileUri(const std::string &path) { return "file://" + path; }

bool FakePortal::Start(const std::string &address,
                       const std::vector<PortalAnswer> &answers) {
  Stop();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  owner_ = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // Ends with the test process, even one that crashed, and keeps off its
    // output.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    close(fds[0]);
    DBusConnection *portal = Join(address), *other = Join(address);
    DBusError error;
    dbus_error_init(&error);
    if (!portal || !other ||
        dbus_bus_request_name(portal, "org.freedesktop.portal.Desktop",
                              DBUS_NAME_FLAG_DO_NOT_QUEUE,
                              &error) != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER)
      _exit(2);
    const char ready = 'R';
    if (write(fds[1], &ready, 1) != 1) _exit(3);
    Service(portal, other, answers, fds[1]).Serve();
    _exit(0);
  }
  close(fds[1]);
  events_ = fds[0];
  if (pid_ < 0) {
    Stop();
    return false;
  }
  struct pollfd p = {events_, POLLIN, 0};
  char ready = 0;
  if (poll(&p, 1, 10000) != 1 || read(events_, &ready, 1) != 1 ||
      ready != 'R') {
    Stop();
    return false;
  }
  fcntl(events_, F_SETFL, O_NONBLOCK);
  return true;
}

void FakePortal::Stop() {
  if (pid_ > 0 && owner_ == getpid()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
  if (events_ >= 0) close(events_);
  events_ = -1;
  seen_.clear();
}

int FakePortal::Count(char what) {
  char buffer[256];
  ssize_t n;
  while (events_ >= 0 && (n = read(events_, buffer, sizeof buffer)) > 0)
    seen_.append(buffer, size_t(n));
  int count = 0;
  for (const char c : seen_) count += c == what;
  return count;
}

}  // namespace ktest
