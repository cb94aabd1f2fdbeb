#include "xvfb_fixture.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace ktest {
namespace {

const int kStartTimeoutMs = 15000;

// The display number Xvfb writes to -displayfd once it accepts
// connections; -1 when it exits or times out first.
int ReadDisplayNumber(int fd) {
  std::string text;
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long elapsed = (now.tv_sec - start.tv_sec) * 1000 +
                         (now.tv_nsec - start.tv_nsec) / 1000000;
    if (elapsed >= kStartTimeoutMs) return -1;
    struct pollfd p = {fd, POLLIN, 0};
    const int r = poll(&p, 1, int(kStartTimeoutMs - elapsed));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return -1;
    char buf[32];
    const ssize_t n = read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    text.append(buf, size_t(n));
    if (text.find('\n') != std::string::npos) return atoi(text.c_str());
  }
}

}  // namespace

int Xvfb::UnusedDisplayNumber() {
  static int next = 0;
  for (int tries = 0; tries < 4000; ++tries) {
    const int n = 400 + (int(getpid()) * 7 + next++) % 4000;
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    if (access(lock.c_str(), F_OK) != 0 && access(socket.c_str(), F_OK) != 0)
      return n;
  }
  return -1;
}

bool Xvfb::Start(const std::string &geometry,
                 const std::vector<std::string> &extra, int display) {
  Stop();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  std::vector<std::string> args = {"Xvfb"};
  if (display >= 0) args.push_back(":" + std::to_string(display));
  for (const char *a :
       {"-displayfd", "3", "-noreset", "-nolisten", "tcp", "-screen", "0"})
    args.push_back(a);
  args.push_back(geometry);
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    // Dies with the test process, whatever ends it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    dup2(fds[1], 3);
    execvp("Xvfb", argv.data());
    _exit(127);
  }
  close(fds[1]);
  pid_ = pid;
  owner_ = parent;
  const int number = ReadDisplayNumber(fds[0]);
  close(fds[0]);
  if (number < 0 || (display >= 0 && number != display)) {
    Reap(SIGKILL, 0);
    return false;
  }
  display_ = number;
  return true;
}

void Xvfb::Reap(int signal, int graceMs) {
  if (pid_ <= 0) return;
  if (owner_ != getpid()) {
    pid_ = -1;
    return;
  }
  kill(pid_, signal);
  for (int waited = 0;; waited += 10) {
    const pid_t r = waitpid(pid_, nullptr, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) break;
    if (waited >= graceMs) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    usleep(10000);
  }
  pid_ = -1;
}

void Xvfb::Stop() { Reap(SIGTERM, 5000); }

void Xvfb::Kill() { Reap(SIGKILL, 0); }

}  // namespace ktest
