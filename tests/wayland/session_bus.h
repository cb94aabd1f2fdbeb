// A private D-Bus session bus with PipeWire beside it, in a process group
// of its own: the services it starts on demand (the desktop portals) are
// ended with it. The portal sees only the backends these tests were written
// for (wlr and gtk), whatever desktops the machine has besides.
#pragma once

#include <sys/types.h>

#include <string>

namespace ktest {

class SessionBus {
 public:
  SessionBus() = default;
  SessionBus(const SessionBus &) = delete;
  SessionBus &operator=(const SessionBus &) = delete;
  ~SessionBus() { Stop(); }

  // Starts dbus-daemon and pipewire with this process's environment plus
  // XDG_CURRENT_DESKTOP=desktop; false (nothing left running) when the bus
  // did not come up within 10 s. What they and the services the bus starts
  // write goes to the file log.
  bool Start(const std::string &desktop, const std::string &log);
  // SIGTERM to the group, then SIGKILL to what lingers.
  void Stop();

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

}  // namespace ktest
