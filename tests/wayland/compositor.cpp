#include "compositor.h"

#include <dirent.h>
#include <fcntl.h>
#include <png.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace ktest {
namespace {

// A test run as root starts the compositor as this user: sway refuses to
// run as root. Anyone else runs it as themselves.
const uid_t kUid = 4711;

uid_t CompositorUid() { return geteuid() == 0 ? kUid : geteuid(); }

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool Exited(pid_t pid, int waitMs) {
  const int64_t end = NowMs() + waitMs;
  for (;;) {
    int status;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || r < 0) return true;
    if (NowMs() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool Connectable(const std::string &path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  const bool ok =
      connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

std::string FindEntry(const std::string &dir, const char *prefix,
                      const char *notSuffix) {
  std::string found;
  DIR *d = opendir(dir.c_str());
  if (!d) return found;
  while (dirent *e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.rfind(prefix, 0) == 0 &&
        (!notSuffix || name.find(notSuffix) == std::string::npos))
      found = name;
  }
  closedir(d);
  return found;
}

}  // namespace

bool HaveProgram(const std::string &name) {
  const char *path = getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = dirs.find(':', start);
    const std::string dir = dirs.substr(
        start, end == std::string::npos ? std::string::npos : end - start);
    if (access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

int RunCommand(const std::vector<std::string> &argv, int timeoutMs,
               std::string *out) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    std::vector<char *> args;
    for (const std::string &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  std::string text;
  const int64_t end = NowMs() + timeoutMs;
  bool timedOut = false;
  for (;;) {
    const int64_t left = end - NowMs();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    struct pollfd p = {fds[0], POLLIN, 0};
    if (poll(&p, 1, int(left)) <= 0) continue;
    char buffer[65536];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, size_t(n));
  }
  close(fds[0]);
  if (timedOut) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  if (out) *out = text;
  if (timedOut || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

Compositor::~Compositor() {
  Stop();
  // Services that used the folder (the portals' document store) may still
  // be leaving it.
  for (int i = 0; i < 50 && !dir_.empty() && owner_ == getpid() &&
                  access(dir_.c_str(), F_OK) == 0;
       ++i) {
    RunCommand({"rm", "-rf", dir_}, 10000);
    if (access(dir_.c_str(), F_OK) == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool Compositor::Start(const std::vector<std::string> &config) {
  Stop();
  if (dir_.empty()) {
    char dir[] = "/tmp/kestrel-wl-XXXXXX";
    if (!mkdtemp(dir)) return false;
    dir_ = dir;
    if ((geteuid() == 0 && chown(dir, kUid, kUid) != 0) ||
        chmod(dir, 0755) != 0)
      return false;
  }
  // A compositor killed earlier leaves its sockets behind.
  RunCommand({"sh", "-c", "rm -f \"$0\"/sway-ipc.* \"$0\"/wayland-*", dir_},
             10000);
  // Xwayland stays off: it would take X display numbers of the machine.
  std::vector<uint8_t> lines;
  if (kind_ == Kind::kSway) {
    static const char kNoX[] = "xwayland disable\n";
    lines.assign(kNoX, kNoX + sizeof kNoX - 1);
  }
  for (const std::string &line : config) {
    lines.insert(lines.end(), line.begin(), line.end());
    lines.push_back('\n');
  }
  const std::string configPath = WriteFile("config", lines);
  std::vector<std::string> argv;
  if (geteuid() == 0)
    argv = {"setpriv", "--reuid=" + std::to_string(kUid),
            "--regid=" + std::to_string(kUid), "--clear-groups",
            "--pdeathsig=KILL"};
  if (kind_ == Kind::kSway) {
    argv.insert(argv.end(), {"sway", "-c", configPath});
  } else {
    argv.insert(
        argv.end(),
        {"weston", "--backend=headless-backend.so", "--use-pixman",
         "--no-config", "--socket=wayland-1", "--width=640", "--height=480"});
  }
  const std::string runtime = "XDG_RUNTIME_DIR=" + dir_;
  const std::string home = "HOME=" + dir_;
  const std::string log = dir_ + "/log";
  owner_ = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    const char *env[] = {"PATH=/usr/local/bin:/usr/bin:/bin",
                         runtime.c_str(),
                         home.c_str(),
                         "WLR_BACKENDS=headless",
                         "WLR_RENDERER=pixman",
                         "WLR_LIBINPUT_NO_DEVICES=1",
                         nullptr};
    std::vector<char *> args;
    for (const std::string &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvpe(args[0], args.data(), const_cast<char **>(env));
    _exit(127);
  }
  if (pid_ < 0 || !WaitUntilReady()) {
    Kill();
    return false;
  }
  return true;
}

bool Compositor::WaitUntilReady() {
  const int64_t end = NowMs() + 10000;
  while (NowMs() < end) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    const std::string socket = FindEntry(dir_, "wayland-", ".lock");
    const bool ipc =
        kind_ == Kind::kWeston || access(IpcSocket().c_str(), F_OK) == 0;
    if (!socket.empty() && ipc && Connectable(dir_ + "/" + socket)) {
      socket_ = socket;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void Compositor::Stop() {
  if (pid_ <= 0 || owner_ != getpid()) return;
  kill(pid_, SIGCONT);
  kill(pid_, SIGTERM);
  if (!Exited(pid_, 5000)) {
    kill(pid_, SIGKILL);
    Exited(pid_, 5000);
  }
  pid_ = -1;
}

void Compositor::Kill() {
  if (pid_ <= 0 || owner_ != getpid()) return;
  kill(pid_, SIGKILL);
  Exited(pid_, 5000);
  pid_ = -1;
}

void Compositor::Freeze() {
  if (pid_ > 0) kill(pid_, SIGSTOP);
}

void Compositor::Thaw() {
  if (pid_ > 0) kill(pid_, SIGCONT);
}

void Compositor::Use() const {
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  setenv("WAYLAND_DISPLAY", socket_.c_str(), 1);
}

std::string Compositor::IpcSocket() const {
  return dir_ + "/sway-ipc." + std::to_string(CompositorUid()) + "." +
         std::to_string(pid_) + ".sock";
}

bool Compositor::Msg(const std::string &command, std::string *reply) const {
  if (pid_ <= 0) return false;
  std::string text;
  const int status =
      RunCommand({"swaymsg", "-s", IpcSocket(), command}, 10000, &text);
  if (reply) *reply = text;
  return status == 0;
}

std::string Compositor::WriteFile(const std::string &name,
                                  const std::vector<uint8_t> &bytes) const {
  const std::string path = dir_ + "/" + name;
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return path;
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  chmod(path.c_str(), 0644);
  return path;
}

FloodingCompositor::~FloodingCompositor() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
  if (!dir_.empty()) RunCommand({"rm", "-rf", dir_}, 10000);
}

bool FloodingCompositor::Start() {
  char dir[] = "/tmp/kestrel-flood-XXXXXX";
  if (!mkdtemp(dir)) return false;
  dir_ = dir;
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "%s/wayland-0", dir);
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0 ||
      bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) !=
          0 ||
      listen(listener_, 4) != 0)
    return false;
  thread_ = std::thread([this] { Flood(); });
  return true;
}

void FloodingCompositor::Use() const {
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
}

void FloodingCompositor::Flood() {
  struct pollfd p = {listener_, POLLIN, 0};
  while (!stop_ && poll(&p, 1, 50) == 0) {
  }
  const int fd =
      stop_ ? -1 : accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  // A deep queue: the client never finds it empty, however fast it reads.
  const int queue = 8 << 20;
  setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &queue, sizeof queue);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &queue, sizeof queue);
  // The client's get_registry (object 2) comes first.
  p = {fd, POLLIN, 0};
  char request[4096];
  if (poll(&p, 1, 2000) == 1 && read(fd, request, sizeof request) > 0) {
    // wl_registry.global_remove(name): object 2, opcode 1, 12 bytes.
    std::vector<uint32_t> events;
    for (uint32_t name = 0; name < 4096; ++name)
      events.insert(events.end(), {2u, (12u << 16) | 1u, name + 1000});
    const size_t bytes = events.size() * sizeof events[0];
    while (!stop_) {
      p = {fd, POLLOUT, 0};
      if (poll(&p, 1, 50) == 0) continue;
      if (send(fd, events.data(), bytes, MSG_NOSIGNAL) < 0) break;
    }
  }
  close(fd);
}

bool GrimCapture(Image *image) {
  std::string ppm;
  if (RunCommand({"grim", "-t", "ppm", "-"}, 10000, &ppm) != 0) return false;
  int w = 0, h = 0, max = 0, used = 0;
  if (sscanf(ppm.c_str(), "P6 %d %d %d%n", &w, &h, &max, &used) != 3 ||
      max != 255 || w <= 0 || h <= 0)
    return false;
  const size_t start = size_t(used) + 1;  // one white-space byte
  const size_t size = size_t(w) * size_t(h) * 3;
  if (ppm.size() < start + size) return false;
  image->width = w;
  image->height = h;
  image->rgb.assign(ppm.begin() + long(start),
                    ppm.begin() + long(start + size));
  return true;
}

std::vector<uint8_t> EncodePng(const Image &image) {
  png_image png;
  memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = png_uint_32(image.width);
  png.height = png_uint_32(image.height);
  png.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  std::vector<uint8_t> bytes;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.rgb.data(), 0,
                                 nullptr))
    return bytes;
  bytes.resize(size);
  if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, image.rgb.data(),
                                 0, nullptr))
    bytes.clear();
  bytes.resize(size);
  return bytes;
}

Image Pattern(int w, int h, int seed) {
  Image image;
  image.width = w;
  image.height = h;
  image.rgb.resize(size_t(w) * size_t(h) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t *p = &image.rgb[(size_t(y) * size_t(w) + size_t(x)) * 3];
      p[0] = uint8_t(x * 5 + seed * 40);
      p[1] = uint8_t(y * 3 + (x >> 6) * 17);
      p[2] = uint8_t((x >> 4) * 29 + (y >> 4) * 11 + seed);
    }
  }
  return image;
}

}  // namespace ktest
