// X servers that refuse, stall or are held by another client: SnapShot
// returns 0 within the reply bound (plus a margin for a busy machine),
// prints nothing, holds nothing, and works again once the server does.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "display.h"
#include "fake_x_server.h"
#include "images.h"
#include "kestrel/kestrel.h"
#include "kestrel_testing.h"
#include "test_support.h"
#include "x11_wait.h"
#include "xvfb_fixture.h"

namespace {

// The bound, and room for a loaded machine.
const double kWithinSeconds = kplat::x11::kReplyTimeoutMs / 1000.0 + 1.5;

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

class HostileX : public ::testing::Test {
 protected:
  void SetUp() override {
    kplat::CloseDisplays();
    fds_ = ktest::CountOpenFds();
  }
  void TearDown() override {
    kplat::CloseDisplays();
    unsetenv("XAUTHORITY");
    EXPECT_EQ(ktest::CountOpenFds(), fds_);
  }

  void Use(const std::string &display) {
    setenv("DISPLAY", display.c_str(), 1);
  }

  // One call: its result, with checks that it printed nothing, held no
  // graphics object and ended within the bound; errno after it in why_.
  int Snap(const std::string &name, int quality = 0) {
    ktest::OutputCapture out;
    const double start = Now();
    const int r = SnapShot(ktest::Utf16(dir_.File(name)).c_str(), quality);
    why_ = errno;
    const double took = Now() - start;
    EXPECT_EQ(out.Stop(), "") << name;
    EXPECT_LT(took, kWithinSeconds) << name;
    const KTestLiveObjects live = KTestGetLiveObjects();
    EXPECT_EQ(live.screenDCs + live.memoryDCs + live.bitmaps + live.sections,
              0);
    return r;
  }

  bool IsPng(const std::string &name, int w, int h) {
    ktest::Image png;
    return ktest::DecodePng(dir_.File(name), &png) && png.width == w &&
           png.height == h;
  }

  ktest::TempDir dir_;
  int fds_ = 0;
  int why_ = 0;
};

// libxcb itself writes why a server refused: none of it may show.
TEST_F(HostileX, WrongOrMissingCookiesAreRefusedQuietly) {
  const int number = ktest::Xvfb::UnusedDisplayNumber();
  const std::string right = dir_.File("right"), wrong = dir_.File("wrong");
  ASSERT_TRUE(
      ktest::WriteXauthority(right, number, std::vector<uint8_t>(16, 7)));
  ASSERT_TRUE(
      ktest::WriteXauthority(wrong, number, std::vector<uint8_t>(16, 9)));
  ktest::Xvfb server;
  ASSERT_TRUE(server.Start("64x48x24", {"-auth", right}, number));
  Use(server.name());
  setenv("XAUTHORITY", wrong.c_str(), 1);
  EXPECT_EQ(Snap("wrong.png"), 0);
  EXPECT_EQ(why_, EACCES);
  setenv("XAUTHORITY", dir_.File("none").c_str(), 1);
  EXPECT_EQ(Snap("none.png"), 0);
  EXPECT_EQ(why_, EACCES);
  EXPECT_FALSE(ktest::FileExists(dir_.File("none.png")));
  setenv("XAUTHORITY", right.c_str(), 1);
  EXPECT_EQ(Snap("right.png"), 1);
  EXPECT_TRUE(IsPng("right.png", 64, 48));
}

TEST_F(HostileX, AFullServerIsRefusedQuietlyAndServesOnceOneLeaves) {
  ktest::Xvfb server;
  ASSERT_TRUE(server.Start("64x48x24", {"-maxclients", "64"}));
  Use(server.name());
  std::vector<xcb_connection_t *> others;
  {
    // The test's own connections fill it; libxcb prints for the last.
    ktest::OutputCapture quiet;
    for (int i = 0; i < 80; ++i) {
      xcb_connection_t *c = xcb_connect(server.name().c_str(), nullptr);
      if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        break;
      }
      others.push_back(c);
    }
    quiet.Stop();
  }
  ASSERT_LT(others.size(), 80u);
  EXPECT_EQ(Snap("full.png"), 0);
  EXPECT_EQ(why_, EACCES);
  xcb_disconnect(others.back());
  others.pop_back();
  // The server notices the departure on its own time.
  int r = 0;
  for (int i = 0; i < 50 && r == 0; ++i) {
    usleep(20000);
    r = Snap("room.png");
  }
  EXPECT_EQ(r, 1);
  for (xcb_connection_t *c : others) xcb_disconnect(c);
}

TEST_F(HostileX, RefusalsOfEveryKindAndSilenceAtSetupPrintNothing) {
  using Mode = ktest::FakeXServer::Mode;
  for (Mode mode : {Mode::kRefuse, Mode::kAskMore, Mode::kSilentAtSetup}) {
    ktest::FakeXServer fake;
    ASSERT_TRUE(fake.Start(ktest::Xvfb::UnusedDisplayNumber(), mode,
                           "Maximum number of clients reached"));
    Use(fake.name());
    EXPECT_EQ(Snap("refused.png"), 0) << int(mode);
    EXPECT_EQ(why_, mode == Mode::kSilentAtSetup ? ETIMEDOUT : EACCES)
        << int(mode);
    EXPECT_GE(fake.accepted(), 1);
    kplat::CloseDisplays();
  }
}

TEST_F(HostileX, TheNextCallFollowsDisplay) {
  ktest::Xvfb a, b;
  ASSERT_TRUE(a.Start("64x48x24"));
  ASSERT_TRUE(b.Start("80x60x24"));
  Use(a.name());
  ASSERT_EQ(Snap("a.png"), 1);
  EXPECT_TRUE(IsPng("a.png", 64, 48));
  Use(b.name());
  ASSERT_EQ(Snap("b.png"), 1);
  EXPECT_TRUE(IsPng("b.png", 80, 60));
  unsetenv("DISPLAY");
  EXPECT_EQ(Snap("none.png"), 0);
  Use(a.name());
  EXPECT_EQ(Snap("a2.png"), 1);
  EXPECT_TRUE(IsPng("a2.png", 64, 48));
}

// The connection is made here, not by libxcb: every form of display name
// it understands reaches the server, over the local socket or TCP.
TEST_F(HostileX, EveryFormOfDisplayNameConnects) {
  ktest::Xvfb server;
  ASSERT_TRUE(server.Start("64x48x24", {"-listen", "tcp"}));
  const std::string n = std::to_string(server.display());
  for (const std::string &name :
       {":" + n, ":" + n + ".0", "unix:" + n, "unix/:" + n, "localhost:" + n,
        "tcp/127.0.0.1:" + n, "inet/localhost:" + n}) {
    Use(name);
    EXPECT_EQ(Snap("n.png"), 1) << name;
    kplat::CloseDisplays();
  }
  for (const std::string &name :
       {"bogus/:" + n, ":" + n + ".1", ":" + n + "x"}) {
    Use(name);
    EXPECT_EQ(Snap("n.png"), 0) << name;
    kplat::CloseDisplays();
  }
}

TEST_F(HostileX, AStoppedServerTimesOutAndServesAgainOnceContinued) {
  ktest::Xvfb server;
  ASSERT_TRUE(server.Start("64x48x24"));
  Use(server.name());
  ASSERT_EQ(Snap("before.png"), 1);
  ASSERT_EQ(kill(server.pid(), SIGSTOP), 0);
  EXPECT_EQ(Snap("kept.png"), 0);  // on the kept connection
  EXPECT_EQ(why_, ETIMEDOUT);
  EXPECT_EQ(Snap("again.png"), 0);  // a new one cannot get set up
  EXPECT_EQ(why_, ETIMEDOUT);
  EXPECT_EQ(Snap("jpeg.jpg", 75), 0);
  EXPECT_EQ(why_, ETIMEDOUT);
  ASSERT_EQ(kill(server.pid(), SIGCONT), 0);
  EXPECT_EQ(Snap("after.png"), 1);
  EXPECT_TRUE(IsPng("after.png", 64, 48));
}

TEST_F(HostileX, AServerThatNeverAnswersTimesOut) {
  ktest::FakeXServer fake;
  ASSERT_TRUE(fake.Start(ktest::Xvfb::UnusedDisplayNumber(),
                         ktest::FakeXServer::Mode::kSilentAfterSetup));
  Use(fake.name());
  EXPECT_EQ(Snap("silent.png"), 0);
  EXPECT_EQ(why_, ETIMEDOUT);
  EXPECT_EQ(Snap("silent.jpg", 90), 0);
  EXPECT_EQ(why_, ETIMEDOUT);
}

// A root window whose 24-bit copy would pass 2^31 - 1 bytes is refused
// before any pixel is asked for.
TEST_F(HostileX, AScreenAboveTheSizeCeilingIsRefused) {
  ktest::FakeXServer fake;
  ASSERT_TRUE(fake.Start(ktest::Xvfb::UnusedDisplayNumber(),
                         ktest::FakeXServer::Mode::kAnswer, "", 27000, 27000));
  Use(fake.name());
  EXPECT_EQ(Snap("huge.png"), 0);
  EXPECT_EQ(why_, EOVERFLOW);
}

// Another client's grab of the server, held until Release (or the end).
class Grab {
 public:
  explicit Grab(const std::string &display) {
    other_ = xcb_connect(display.c_str(), nullptr);
    xcb_grab_server(other_);
    Sync();
  }
  ~Grab() {
    Release();
    xcb_disconnect(other_);
  }
  void Release() {
    xcb_ungrab_server(other_);
    Sync();
  }

 private:
  void Sync() {
    free(xcb_get_input_focus_reply(other_, xcb_get_input_focus(other_),
                                   nullptr));
  }
  xcb_connection_t *other_;
};

TEST_F(HostileX, AGrabByAnotherClientTimesOutAndServesAfterTheUngrab) {
  ktest::Xvfb server;
  ASSERT_TRUE(server.Start("64x48x24"));
  Use(server.name());
  ASSERT_EQ(Snap("before.png"), 1);
  Grab grab(server.name());
  EXPECT_EQ(Snap("grabbed.png"), 0);
  EXPECT_EQ(why_, ETIMEDOUT);
  EXPECT_EQ(Snap("grabbed2.png"), 0);
  grab.Release();
  EXPECT_EQ(Snap("after.png"), 1);
  EXPECT_TRUE(IsPng("after.png", 64, 48));
}

void Tick(int) {}

// A SIGALRM every 100 us, with a handler that does not ask for restarts,
// while it lives.
class SignalStorm {
 public:
  SignalStorm() {
    struct sigaction sa = {};
    sa.sa_handler = Tick;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, &old_);
    const struct itimerval every = {{0, 100}, {0, 100}};
    setitimer(ITIMER_REAL, &every, nullptr);
  }
  ~SignalStorm() {
    const struct itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old_, nullptr);
  }

 private:
  struct sigaction old_;
};

// Signals whose handler does not ask for restarts interrupt the socket
// calls of connecting and reading; none may fail the call.
TEST_F(HostileX, FrequentSignalsWithoutRestartDoNotFailCalls) {
  ktest::Xvfb server;
  ASSERT_TRUE(server.Start("320x240x24"));
  Use(server.name());
  int written = 0;
  {
    SignalStorm storm;
    for (int i = 0; i < 20; ++i) {
      kplat::CloseDisplays();  // each call connects anew
      written += Snap("tick.png", i % 2 ? 80 : 0);
    }
  }
  EXPECT_EQ(written, 20);
}

// A server slow to take connections makes connect wait, and a signal
// without SA_RESTART cuts that wait short.
TEST_F(HostileX, FrequentSignalsWhileConnectWaitsDoNotFailTheCall) {
  ktest::FakeXServer fake;
  fake.SlowAccept(200);
  ASSERT_TRUE(fake.Start(ktest::Xvfb::UnusedDisplayNumber(),
                         ktest::FakeXServer::Mode::kAnswer));
  Use(fake.name());
  // Others fill the listen queue first.
  std::vector<int> queued;
  for (int i = 0; i < 8; ++i) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, fake.socketPath().c_str(), sizeof addr.sun_path - 1);
    const int r = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    queued.push_back(fd);
    if (r != 0) break;
  }
  int r = 0;
  {
    SignalStorm storm;
    r = Snap("slow.png");
  }
  EXPECT_EQ(r, 1);
  EXPECT_TRUE(IsPng("slow.png", 64, 48));
  for (int fd : queued) close(fd);
}

// Runs body in a forked child and waits at most seconds for it: its exit
// status, or -1 when it had to be killed. The child may hang for ever.
int RunBounded(const std::function<int()> &body, double seconds, double *took) {
  const double start = Now();
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Now() - start > seconds) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      *took = Now() - start;
      return -1;
    }
    usleep(10000);
  }
  *took = Now() - start;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Setups whose lengths claim more than their bytes hold, or than the fixed
// parts need: each is refused, quietly, before anything walks it.
TEST_F(HostileX, ASetupThatClaimsMoreThanItsBytesHoldIsRefused) {
  using Body = std::vector<uint8_t>;
  // Offsets in the fake's setup body (after the 8-byte head).
  const std::vector<std::pair<std::string, std::function<void(Body *)>>> lies =
      {{"vendor", [](Body *b) { (*b)[16] = (*b)[17] = 0xFF; }},
       {"screens", [](Body *b) { (*b)[20] = 255; }},
       {"formats", [](Body *b) { (*b)[21] = 255; }},
       {"depths", [](Body *b) { (*b)[83] = 200; }},
       {"visuals", [](Body *b) { (*b)[86] = 2; }},
       {"hidden depth",
        [](Body *b) {
          const uint8_t depth[8] = {1, 0, 0xFF, 0xFF, 0, 0, 0, 0};
          b->insert(b->begin() + 84, depth, depth + 8);
          (*b)[83] = 2;
        }},
       {"short", [](Body *b) { b->resize(20); }}};
  for (const auto &lie : lies) {
    ktest::FakeXServer fake;
    fake.TamperSetup(lie.second);
    ASSERT_TRUE(fake.Start(ktest::Xvfb::UnusedDisplayNumber(),
                           ktest::FakeXServer::Mode::kAnswer));
    Use(fake.name());
    EXPECT_EQ(Snap("lie.png"), 0) << lie.first;
    kplat::CloseDisplays();
  }
}

// An 8-bit colour-mapped screen whose colour map reply counts 256 entries
// but holds none: refused, where the honest reply serves.
TEST_F(HostileX, AColourMapReplyShorterThanItsCountIsRefused) {
  for (bool lying : {false, true}) {
    ktest::FakeXServer fake;
    fake.TamperSetup([](std::vector<uint8_t> *b) {
      (*b)[36] = (*b)[37] = 8;  // the pixmap format: depth 8, 8 bits
      (*b)[82] = (*b)[84] = 8;  // the root's depth, its one depth entry
      (*b)[96] = 3;             // PseudoColor
    });
    if (lying)
      fake.TamperReplies([](uint8_t opcode, std::vector<uint8_t> *r) {
        if (opcode != 91) return;
        r->resize(32);
        (*r)[4] = (*r)[5] = 0;  // length 0, the count left at 256
      });
    ASSERT_TRUE(fake.Start(ktest::Xvfb::UnusedDisplayNumber(),
                           ktest::FakeXServer::Mode::kAnswer));
    Use(fake.name());
    EXPECT_EQ(Snap("map.png"), lying ? 0 : 1);
    kplat::CloseDisplays();
  }
}

// Events poured without end do not hold the call past the bound (Snap
// checks the time); a call that ends with 1 wrote the whole picture.
TEST_F(HostileX, AServerPouringEventsIsLeftWithinTheBound) {
  ktest::FakeXServer fake;
  ASSERT_TRUE(fake.Start(ktest::Xvfb::UnusedDisplayNumber(),
                         ktest::FakeXServer::Mode::kFlood));
  Use(fake.name());
  for (const char *name : {"flood.png", "flood2.png"}) {
    if (Snap(name) == 1) {
      EXPECT_TRUE(IsPng(name, 64, 48));
    }
  }
}

// One id past the granted range would cost libxcb a round trip that this
// server never answers: shared memory is given up, the socket serves.
TEST_F(HostileX, AServerGrantingTwoIdsIsReadWithoutAskingForMore) {
  ktest::FakeXServer fake;
  fake.GrantIds(1);
  fake.OfferShm();
  ASSERT_TRUE(fake.Start(ktest::Xvfb::UnusedDisplayNumber(),
                         ktest::FakeXServer::Mode::kAnswer));
  Use(fake.name());
  for (const char *name : {"ids.png", "ids2.png"}) {
    ASSERT_EQ(Snap(name), 1) << name;
    ktest::Image png;
    ASSERT_TRUE(ktest::DecodePng(dir_.File(name), &png));
    ASSERT_EQ(png.width * png.height, 64 * 48);
    for (int y = 0; y < 48; y += 47)
      for (int x = 0; x < 64; x += 63) {
        const uint32_t want = ktest::FakeXServer::Pixel(x, y, 64, 48);
        const uint8_t *got = &png.rgb[size_t(y * 64 + x) * 3];
        EXPECT_EQ(got[0] << 16 | got[1] << 8 | got[2], int(want & 0xFFFFFF));
      }
  }
}

// An authority file that is a FIFO (open would wait for a writer), a device
// that never ends, a folder, or a file far larger than any cookie list: the
// call goes on without a cookie, at once.
TEST_F(HostileX, AnAuthorityThatIsNoPlainFileIsPassedOverAtOnce) {
  ktest::FakeXServer fake;  // takes any cookie, or none
  ASSERT_TRUE(fake.Start(ktest::Xvfb::UnusedDisplayNumber(),
                         ktest::FakeXServer::Mode::kAnswer));
  Use(fake.name());
  const std::string fifo = dir_.File("fifo"), huge = dir_.File("huge");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int fd = open(huge.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t(1) << 30), 0);  // sparse
  close(fd);
  for (const std::string &authority :
       {fifo, std::string("/dev/zero"), dir_.path(), huge}) {
    setenv("XAUTHORITY", authority.c_str(), 1);
    double took = 0;
    const int status = RunBounded(
        [&] {
          return SnapShot(ktest::Utf16(dir_.File("auth.png")).c_str(), 0) == 1
                     ? 0
                     : 1;
        },
        kWithinSeconds + 3, &took);
    EXPECT_EQ(status, 0) << authority;
    EXPECT_LT(took, kWithinSeconds) << authority;
  }
}

// The child of this test: a network of its own whose name server (on the
// loopback, port 53) takes every question and answers none, with the
// resolver told to wait 30 s five times; DISPLAY names a host only it could
// know. Exit 77 where namespaces cannot be made here.
int LookUpWithASilentNameServer(const std::string &dir) {
  if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) return 77;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return 77;
  const std::string conf = dir + "/resolv.conf";
  FILE *f = fopen(conf.c_str(), "w");
  if (!f) return 2;
  fputs("nameserver 127.0.0.1\noptions timeout:30 attempts:5\n", f);
  fclose(f);
  if (mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
    return 77;
  // The loopback up, with an address besides 127.0.0.1 so that lookups
  // with AI_ADDRCONFIG still ask for IPv4.
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  struct ifreq ifr = {};
  strcpy(ifr.ifr_name, "lo");
  if (ioctl(s, SIOCGIFFLAGS, &ifr) != 0) return 3;
  ifr.ifr_flags |= IFF_UP;
  if (ioctl(s, SIOCSIFFLAGS, &ifr) != 0) return 3;
  struct ifreq alias = {};
  strcpy(alias.ifr_name, "lo:1");
  auto *in = reinterpret_cast<sockaddr_in *>(&alias.ifr_addr);
  in->sin_family = AF_INET;
  in->sin_addr.s_addr = htonl(0x7F000002);
  if (ioctl(s, SIOCSIFADDR, &alias) != 0) return 3;
  struct sockaddr_in dns = {};
  dns.sin_family = AF_INET;
  dns.sin_port = htons(53);
  dns.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr *>(&dns), sizeof dns) != 0) return 4;
  setenv("DISPLAY", "kestrel-display.test:0", 1);
  const double start = Now();
  const int r = SnapShot(ktest::Utf16(dir + "/dns.png").c_str(), 0);
  const double took = Now() - start;
  if (r != 0) return 5;
  return took < kWithinSeconds ? 0 : 6;
}

TEST_F(HostileX, ANameServerThatNeverAnswersIsGivenUpWithinTheBound) {
  double took = 0;
  const int status =
      RunBounded([&] { return LookUpWithASilentNameServer(dir_.path()); },
                 kWithinSeconds + 6, &took);
  if (status == 77) GTEST_SKIP() << "no private network namespace here";
  EXPECT_EQ(status, 0) << "took " << took << " s";
}

// A fork while another thread's call waits: the child's calls are its own
// (on a connection of its own), and the parent's go on.
TEST_F(HostileX, AChildForkedDuringACallMakesItsOwnCalls) {
  ktest::Xvfb server;
  ASSERT_TRUE(server.Start("64x48x24"));
  Use(server.name());
  ASSERT_EQ(Snap("before.png"), 1);
  Grab grab(server.name());
  std::thread waiting(
      [&] { SnapShot(ktest::Utf16(dir_.File("held.png")).c_str(), 0); });
  usleep(300000);
  const pid_t pid = fork();
  if (pid == 0) {
    usleep(300000);  // the parent lets go of the server
    for (int i = 0; i < 20; ++i) {
      if (SnapShot(ktest::Utf16(dir_.File("child.png")).c_str(), 0) == 1)
        _exit(IsPng("child.png", 64, 48) ? 0 : 2);
      usleep(100000);
    }
    _exit(1);
  }
  grab.Release();
  int status = -1;
  waitpid(pid, &status, 0);
  waiting.join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Snap("after.png"), 1);
  EXPECT_TRUE(IsPng("after.png", 64, 48));
}

void *CallThenCarryOn(void *path) {
  SnapShot(static_cast<const char16_t *>(path), 0);
  pthread_testcancel();
  return nullptr;
}

// A caller cancelled while its call waits: the call ends first (within its
// bound), the cancellation then, and later calls work.
TEST_F(HostileX, ACancelledCallerLeavesLaterCallsWorking) {
  ktest::Xvfb server;
  ASSERT_TRUE(server.Start("64x48x24"));
  Use(server.name());
  ASSERT_EQ(Snap("before.png"), 1);
  const std::u16string path = ktest::Utf16(dir_.File("held.png"));
  {
    Grab grab(server.name());
    pthread_t caller;
    ASSERT_EQ(pthread_create(&caller, nullptr, CallThenCarryOn,
                             const_cast<char16_t *>(path.c_str())),
              0);
    usleep(300000);
    const double start = Now();
    pthread_cancel(caller);
    void *result = nullptr;
    pthread_join(caller, &result);
    EXPECT_EQ(result, PTHREAD_CANCELED);
    EXPECT_LT(Now() - start, kWithinSeconds);
  }
  EXPECT_EQ(Snap("after.png"), 1);
  EXPECT_TRUE(IsPng("after.png", 64, 48));
}

}  // namespace
