// A private Xvfb server for tests: started on a free display number (or a
// given one), stopped by pid, never left running when the test process dies.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ktest {

class Xvfb {
 public:
  Xvfb() = default;
  Xvfb(const Xvfb &) = delete;
  Xvfb &operator=(const Xvfb &) = delete;
  ~Xvfb() { Stop(); }

  // Starts Xvfb -screen 0 <geometry> (e.g. "240x320x16") -noreset plus
  // extra, on display number `display` or on a free one when it is negative,
  // and waits until it accepts connections. False when it did not come up;
  // nothing is left running then.
  bool Start(const std::string &geometry,
             const std::vector<std::string> &extra = {}, int display = -1);

  // Ends the server (SIGTERM, then SIGKILL if it lingers) and reaps it.
  void Stop();

  // Ends the server abruptly, as a crash would.
  void Kill();

  // A display number no server uses now, far above the ones -displayfd
  // hands out, so a test that restarts its server on the same number does
  // not race other tests for it.
  static int UnusedDisplayNumber();

  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  int display() const { return display_; }
  std::string name() const { return ":" + std::to_string(display_); }

 private:
  void Reap(int signal, int graceMs);

  pid_t pid_ = -1;
  pid_t owner_ = -1;  // a forked child must not stop its parent's server
  int display_ = -1;
};

}  // namespace ktest
