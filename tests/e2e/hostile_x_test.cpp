// X servers that refuse, stall or are held by another client: SnapShot
// returns 0 within the reply bound (plus a margin for a busy machine),
// prints nothing, holds nothing, and works again once the server does.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <string>
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

TEST_F(HostileX, AGrabByAnotherClientTimesOutAndServesAfterTheUngrab) {
  ktest::Xvfb server;
  ASSERT_TRUE(server.Start("64x48x24"));
  Use(server.name());
  ASSERT_EQ(Snap("before.png"), 1);
  xcb_connection_t *other = xcb_connect(server.name().c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(other));
  xcb_grab_server(other);
  free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
  EXPECT_EQ(Snap("grabbed.png"), 0);
  EXPECT_EQ(why_, ETIMEDOUT);
  EXPECT_EQ(Snap("grabbed2.png"), 0);
  xcb_ungrab_server(other);
  free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
  EXPECT_EQ(Snap("after.png"), 1);
  EXPECT_TRUE(IsPng("after.png", 64, 48));
  xcb_disconnect(other);
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

}  // namespace
