#include "session_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace ktest {

// Installing another desktop's portal backend changes which backend
// xdg-desktop-portal picks for some interfaces, and slows its start.
bool SessionBus::PinPortalBackends() {
  char dir[] = "/tmp/kestrel-portals-XXXXXX";
  if (!mkdtemp(dir)) return false;
  portals_ = dir;
  for (const char *name : {"wlr.portal", "gtk.portal"}) {
    const std::string from =
        std::string("/usr/share/xdg-desktop-portal/portals/") + name;
    if (symlink(from.c_str(), (portals_ + "/" + name).c_str()) != 0)
      return false;
  }
  return true;
}

bool SessionBus::Start(const std::string &desktop, const std::string &log) {
  Stop();
  owner_ = getpid();
  if (!PinPortalBackends()) {
    Stop();
    return false;
  }
  int fds[2];
  if (pipe(fds) != 0) return false;
  group_ = fork();
  if (group_ == 0) {
    setpgid(0, 0);
    setenv("XDG_CURRENT_DESKTOP", desktop.c_str(), 1);
    setenv("XDG_DESKTOP_PORTAL_DIR", portals_.c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    const int null = open("/dev/null", O_RDWR);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(null, 0);
    dup2(out, 1);
    dup2(out, 2);
    const std::string printTo = "--print-address=" + std::to_string(fds[1]);
    close(fds[0]);
    execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
           printTo.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  if (group_ < 0) {
    close(fds[0]);
    return false;
  }
  setpgid(group_, group_);
  std::string text;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (text.find('\n') == std::string::npos &&
         std::chrono::steady_clock::now() < end) {
    struct pollfd p = {fds[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[512];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, size_t(n));
  }
  close(fds[0]);
  const size_t newline = text.find('\n');
  if (newline == std::string::npos) {
    Stop();
    return false;
  }
  address_ = text.substr(0, newline);
  // PipeWire joins the group, so it ends with the bus.
  const pid_t pipewire = fork();
  if (pipewire == 0) {
    setpgid(0, group_);
    setenv("XDG_CURRENT_DESKTOP", desktop.c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    const int null = open("/dev/null", O_RDWR);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(null, 0);
    dup2(out, 1);
    dup2(out, 2);
    execlp("pipewire", "pipewire", static_cast<char *>(nullptr));
    _exit(127);
  }
  if (pipewire > 0) setpgid(pipewire, group_);
  // The portal's wlroots backend connects to PipeWire as it starts; under
  // load PipeWire may not be listening yet.
  const char *runtime = getenv("XDG_RUNTIME_DIR");
  const std::string socket =
      std::string(runtime ? runtime : "/tmp") + "/pipewire-0";
  while (access(socket.c_str(), F_OK) != 0 &&
         std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return true;
}

void SessionBus::Stop() {
  if (owner_ != getpid()) return;
  if (!portals_.empty()) {
    for (const char *name : {"wlr.portal", "gtk.portal"})
      unlink((portals_ + "/" + name).c_str());
    rmdir(portals_.c_str());
    portals_.clear();
  }
  if (group_ <= 0) return;
  kill(-group_, SIGTERM);
  // Reap the bus and PipeWire (our children); the services the bus
  // started go with the group.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < end) {
    if (kill(-group_, 0) != 0) break;
    while (waitpid(-group_, nullptr, WNOHANG) > 0) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(-group_, SIGKILL);
  while (waitpid(-group_, nullptr, WNOHANG) > 0) {
  }
  group_ = -1;
}

void SessionBus::Use() const {
  setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

}  // namespace ktest
