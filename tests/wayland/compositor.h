// Private headless compositors for tests: sway (with screencopy) and weston
// (without), each on its own runtime folder, run as an unprivileged user,
// stopped by pid and never left running when the test process dies.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "images.h"

namespace ktest {

// Whether an executable of that name is on PATH.
bool HaveProgram(const std::string &name);

class Compositor {
 public:
  enum class Kind { kSway, kWeston };

  explicit Compositor(Kind kind = Kind::kSway) : kind_(kind) {}
  Compositor(const Compositor &) = delete;
  Compositor &operator=(const Compositor &) = delete;
  ~Compositor();

  // Starts the compositor with these configuration lines (sway) and waits
  // until it accepts clients. False, leaving nothing running, when it did
  // not come up within 10 s.
  bool Start(const std::vector<std::string> &config = {});
  // SIGTERM, then SIGKILL if it lingers past 5 s; reaped.
  void Stop();
  // Abruptly, as a crash would.
  void Kill();
  // Holds the compositor still (it stops answering) or lets it go on.
  void Freeze();
  void Thaw();

  // Points this process's WAYLAND_DISPLAY and XDG_RUNTIME_DIR at it.
  void Use() const;

  // swaymsg with the given command; false when sway rejected it.
  bool Msg(const std::string &command, std::string *reply = nullptr) const;

  // A file in the runtime folder that the compositor's user can read.
  std::string WriteFile(const std::string &name,
                        const std::vector<uint8_t> &bytes) const;

  pid_t pid() const { return pid_; }
  const std::string &runtimeDir() const { return dir_; }
  const std::string &socket() const { return socket_; }

 private:
  bool WaitUntilReady();
  std::string IpcSocket() const;  // sway's, named after its user and pid

  Kind kind_;
  pid_t pid_ = -1;
  pid_t owner_ = -1;
  std::string dir_;
  std::string socket_;
};

// A compositor that never stops talking: it takes one client, reads its
// first requests and then sends registry events (global_remove) without end,
// as fast as they are read, answering nothing.
class FloodingCompositor {
 public:
  FloodingCompositor() = default;
  FloodingCompositor(const FloodingCompositor &) = delete;
  FloodingCompositor &operator=(const FloodingCompositor &) = delete;
  ~FloodingCompositor();

  bool Start();
  // Points this process's WAYLAND_DISPLAY and XDG_RUNTIME_DIR at it.
  void Use() const;

 private:
  void Flood();

  std::string dir_;
  int listener_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

// The screen as grim sees it (grim -t ppm -), with this process's
// WAYLAND_DISPLAY and XDG_RUNTIME_DIR; false when grim failed.
bool GrimCapture(Image *image);

// A PNG file of the image (8-bit RGB).
std::vector<uint8_t> EncodePng(const Image &image);

// A w x h image in which no two nearby pixels are equal and no symmetry
// maps the image onto itself, so a misplaced, turned or mirrored copy shows.
Image Pattern(int w, int h, int seed);

// Runs a command with a deadline; its exit status, or -1 when it did not
// finish in time (it is killed then). Output goes to *out when given.
int RunCommand(const std::vector<std::string> &argv, int timeoutMs,
               std::string *out = nullptr);

}  // namespace ktest
