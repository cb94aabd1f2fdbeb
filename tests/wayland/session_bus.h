// A private D-Bus session bus with PipeWire beside it, in a process group
// of its own: the services it starts on demand (the desktop portals) are
// ended with it. The portal sees only the backends these tests were written
// for (wlr and gtk), whatever desktops the machine has besides. And a socket
// that only passes for a bus.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ktest {

class SessionBus {
 public:
  SessionBus() = default;
  SessionBus(const SessionBus &) = delete;
  SessionBus &operator=(const SessionBus &) = delete;
  ~SessionBus() { Stop(); }

  // Starts dbus-daemon and (unless told not to) pipewire with this
  // process's environment plus XDG_CURRENT_DESKTOP=desktop; false (nothing
  // left running) when the bus did not come up within 10 s. What they and
  // the services the bus starts write goes to the file log.
  bool Start(const std::string &desktop, const std::string &log,
             bool pipewire = true);
  // SIGTERM to the group, then SIGKILL to what lingers.
  void Stop();
  // Holds the bus daemon still (it stops answering) or lets it go on.
  void Freeze();
  void Thaw();

  // Points this process's DBUS_SESSION_BUS_ADDRESS at the bus.
  void Use() const;

  const std::string &address() const { return address_; }

 private:
  bool PinPortalBackends();

  pid_t group_ = -1;
  pid_t owner_ = -1;
  std::string address_;
  std::string portals_;  // the portal's private backend folder
};

// A listening socket that never speaks: connections are queued and left
// unanswered, or (full) its listen queue is kept full, so a connect waits.
class SilentBus {
 public:
  SilentBus() = default;
  SilentBus(const SilentBus &) = delete;
  SilentBus &operator=(const SilentBus &) = delete;
  ~SilentBus();

  bool Start(const std::string &path, bool full);
  std::string address() const { return "unix:path=" + path_; }

 private:
  int listener_ = -1;
  std::vector<int> queued_;
  std::string path_;
};

}  // namespace ktest
