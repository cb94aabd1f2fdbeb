// Streams from _wfopen in an unlucky host: a pipe whose reader leaves, a
// FIFO nobody reads, a signal handler without SA_RESTART firing all the
// time. Each case runs in a child process, so that a signal that would end
// the host, or an open that never returns, shows up as a result.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sigpipe.h"
#include "windows.h"

namespace {

std::u16string Wide(const std::string &s) {
  return std::u16string(s.begin(), s.end());
}

// Runs body in a child and returns its wait status; -1 when it had not
// ended after limitMs (it is killed then).
int InChild(int (*body)(const std::string &), const std::string &fifo,
            int limitMs) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body(fifo));
  int status = 0;
  for (int waited = 0; waited < limitMs; waited += 10) {
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

// A reader of the FIFO on its own thread, with SIGALRM blocked so the
// writer's thread takes every tick. Reads up to limit bytes, slowly when
// asked, then closes. It holds a write end of its own, so that it waits for
// the writer's bytes instead of seeing the end before the writer comes.
struct Reader {
  int fd = -1;
  int keepOpen = -1;
  size_t limit = 0;
  bool slow = false;
  size_t got = 0;
  pthread_t thread;

  bool Start(const std::string &fifo) {
    fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0 || fcntl(fd, F_SETFL, 0) != 0) return false;
    keepOpen = open(fifo.c_str(), O_WRONLY);
    if (keepOpen < 0) return false;
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &alarm, &old);
    const bool ok = pthread_create(&thread, nullptr, Run, this) == 0;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
  }
  static void *Run(void *self) {
    Reader *r = static_cast<Reader *>(self);
    char buf[1000];
    while (r->got < r->limit) {
      const size_t want =
          r->limit - r->got < sizeof buf ? r->limit - r->got : sizeof buf;
      const ssize_t n = read(r->fd, buf, want);
      if (n <= 0) break;
      r->got += size_t(n);
      if (r->slow) usleep(50);
    }
    close(r->fd);
    close(r->keepOpen);
    return nullptr;
  }
  void Join() { pthread_join(thread, nullptr); }
};

bool SigpipePending() {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE);
}

bool SigpipeBlocked() {
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  return sigismember(&mask, SIGPIPE);
}

// Exit codes of the children: 0 is success, others name the failed check.
// A megabyte written to a reader that takes ten bytes and leaves. When the
// host holds SIGPIPE blocked with one pending, that one and the mask stay.
// inCall: made inside a call's own hold (as SnapShot's writes are), which
// must leave the same state behind once released.
int WriteToLeavingReader(const std::string &fifo, bool hostHasOne,
                         bool inCall = false) {
  signal(SIGPIPE, SIG_DFL);
  if (hostHasOne) {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    raise(SIGPIPE);
  }
  Reader reader;
  reader.limit = 10;
  if (!reader.Start(fifo)) return 2;
  if (inCall) kplat::HoldSigpipeForCall();
  FILE *f = _wfopen(Wide(fifo).c_str(), u"wb");
  if (f == nullptr) return 3;
  const std::vector<char> data(1 << 20, 'x');
  const size_t n = fwrite(data.data(), 1, data.size(), f);
  const bool flushed = fflush(f) == 0;
  const int error = errno;
  reader.Join();
  if (n == data.size() && flushed) return 4;  // the write cannot have worked
  if (!ferror(f) || error != EPIPE) return 5;
  fclose(f);
  if (inCall) {
    if (!SigpipeBlocked()) return 7;
    kplat::ReleaseSigpipeForCall();
  }
  if (SigpipePending() != hostHasOne || SigpipeBlocked() != hostHasOne)
    return 6;
  return 0;
}

int ReaderLeaves(const std::string &fifo) {
  return WriteToLeavingReader(fifo, false);
}

int HostSigpipeKept(const std::string &fifo) {
  return WriteToLeavingReader(fifo, true);
}

int ReaderLeavesInCall(const std::string &fifo) {
  return WriteToLeavingReader(fifo, false, true);
}

int HostSigpipeKeptInCall(const std::string &fifo) {
  return WriteToLeavingReader(fifo, true, true);
}

int NobodyReads(const std::string &fifo) {
  errno = 0;
  FILE *f = _wfopen(Wide(fifo).c_str(), u"wb");
  if (f != nullptr) return 2;
  return errno == ENXIO ? 0 : 3;
}

void Tick(int) {}

// Every ~100 us a signal whose handler does not ask for restarts; the
// reader takes its time, so writes block and are interrupted again and
// again. Every byte must still arrive.
int InterruptedWrites(const std::string &fifo) {
  struct sigaction sa = {};
  sa.sa_handler = Tick;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART
  sigaction(SIGALRM, &sa, nullptr);
  const size_t size = 4 << 20;
  Reader reader;
  reader.limit = size;
  reader.slow = true;
  if (!reader.Start(fifo)) return 2;
  const struct itimerval every = {{0, 100}, {0, 100}};
  setitimer(ITIMER_REAL, &every, nullptr);
  FILE *f = _wfopen(Wide(fifo).c_str(), u"wb");
  if (f == nullptr) return 3;
  const std::vector<char> data(size, 'y');
  size_t written = 0;
  for (size_t at = 0; at < size; at += 1000)
    written +=
        fwrite(data.data() + at, 1, size - at < 1000 ? size - at : 1000, f);
  const bool closed = fclose(f) == 0;
  const struct itimerval off = {};
  setitimer(ITIMER_REAL, &off, nullptr);
  // A reader still waiting for the lost bytes would never end.
  if (written != size) return 4;
  if (!closed) return 5;
  reader.Join();
  return reader.got == size ? 0 : 6;
}

class WFOpenHost : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kestrel-host-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    fifo_ = dir_ + "/p.png";
    ASSERT_EQ(0, mkfifo(fifo_.c_str(), 0600));
  }
  void TearDown() override {
    unlink(fifo_.c_str());
    unlink((dir_ + "/f.bin").c_str());
    rmdir(dir_.c_str());
  }
  static void ExpectExitZero(int status) {
    ASSERT_NE(-1, status) << "did not end in time";
    EXPECT_FALSE(WIFSIGNALED(status)) << "signal " << WTERMSIG(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "failed check " << WEXITSTATUS(status);
  }
  std::string dir_, fifo_;
};

TEST_F(WFOpenHost, AReaderThatLeavesGivesAWriteErrorNotSigpipe) {
  ExpectExitZero(InChild(ReaderLeaves, fifo_, 10000));
  ExpectExitZero(InChild(HostSigpipeKept, fifo_, 10000));
  ExpectExitZero(InChild(ReaderLeavesInCall, fifo_, 10000));
  ExpectExitZero(InChild(HostSigpipeKeptInCall, fifo_, 10000));
}

TEST_F(WFOpenHost, AFifoNobodyReadsFailsAtOnce) {
  ExpectExitZero(InChild(NobodyReads, fifo_, 2000));
}

TEST_F(WFOpenHost, WritesInterruptedBySignalsCarryOn) {
  ExpectExitZero(InChild(InterruptedWrites, fifo_, 30000));
}

TEST_F(WFOpenHost, StreamsAreBufferedAndDescriptorsCloseOnExec) {
  const std::string file = dir_ + "/f.bin";
  FILE *f = _wfopen(Wide(file).c_str(), u"wb");
  ASSERT_NE(nullptr, f);
  // The new descriptor is the one naming the file.
  bool cloexec = false, found = false;
  for (int fd = 0; fd < 1024; ++fd) {
    char link[64], target[512];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = 0;
    if (file == target) {
      found = true;
      cloexec = (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
    }
  }
  EXPECT_TRUE(found);
  EXPECT_TRUE(cloexec);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(1u, fwrite("z", 1, 1, f));
  struct stat st;
  ASSERT_EQ(0, stat(file.c_str(), &st));
  EXPECT_EQ(0, st.st_size) << "4 KiB of small writes went out unbuffered";
  EXPECT_EQ(0, fflush(f));
  ASSERT_EQ(0, stat(file.c_str(), &st));
  EXPECT_EQ(4096, st.st_size);
  EXPECT_EQ(0, fclose(f));
}

TEST_F(WFOpenHost, AFullDeviceFailsTheWriteAndTheClose) {
  FILE *f = _wfopen(u"/dev/full", u"wb");
  ASSERT_NE(nullptr, f);
  const std::vector<char> data(100000, 'q');
  const size_t n = fwrite(data.data(), 1, data.size(), f);
  EXPECT_LT(n, data.size());
  EXPECT_TRUE(ferror(f));
  fclose(f);
  // What is still buffered fails at the close.
  f = _wfopen(u"/dev/full", u"wb");
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(100u, fwrite(data.data(), 1, 100, f));
  EXPECT_EQ(EOF, fclose(f));
}

}  // namespace
