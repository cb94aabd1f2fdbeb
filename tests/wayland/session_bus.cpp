#include "session_bus.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
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

bool SessionBus::Start(const std::string &desktop, const std::string &log,
                       bool pipewire) {
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
  if (!pipewire) return true;
  // PipeWire joins the group, so it ends with the bus.
  const pid_t pipewirePid = fork();
  if (pipewirePid == 0) {
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
  if (pipewirePid > 0) setpgid(pipewirePid, group_);
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
  kill(group_, SIGCONT);
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

void SessionBus::Freeze() {
  if (group_ > 0) kill(group_, SIGSTOP);
}

void SessionBus::Thaw() {
  if (group_ > 0) kill(group_, SIGCONT);
}

void SessionBus::Use() const {
  setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

SilentBus::~SilentBus() {
  for (const int fd : queued_) close(fd);
  if (listener_ >= 0) close(listener_);
  if (!path_.empty()) unlink(path_.c_str());
}

bool SilentBus::Start(const std::string &path, bool full) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0 ||
      bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) !=
          0 ||
      listen(listener_, full ? 0 : 16) != 0)
    return false;
  path_ = path;
  // Connections of our own fill the queue until the next one would wait.
  while (full) {
    const int fd =
        socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) !=
        0) {
      close(fd);
      return errno == EAGAIN;
    }
    queued_.push_back(fd);
  }
  return true;
}

}  // namespace ktest
