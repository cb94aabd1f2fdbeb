// The whole library on headless sway: SnapShot's files hold exactly what the
// compositor shows, the Wayland screen is chosen before an X server, an
// Xwayland server is read through its compositor or not at all, and a
// compositor it cannot read leaves the turn to X.
#include <errno.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "display.h"
#include "fake_portal.h"
#include "kestrel/kestrel.h"
#include "session_bus.h"
#include "sway_test_fixture.h"
#include "test_support.h"
#include "xvfb_fixture.h"

namespace ktest {
namespace {

int Snap(const std::string &path, int quality) {
  return SnapShot(Utf16(path).c_str(), quality);
}

class WaylandSnapShotTest : public SwayTest {
 protected:
  void SetUp() override {
    SwayTest::SetUp();
    unsetenv("DISPLAY");
    kplat::CloseDisplays();
  }

  // Two outputs, the second turned, each showing a pattern of its own.
  Image ShowTwoOutputs() {
    StartSway();
    AddSecondOutput("mode 320x240 position 640 0 transform 90");
    const Image left = Pattern(640, 480, 31), right = Pattern(240, 320, 32);
    ShowImage("HEADLESS-1", left);
    ShowImage("HEADLESS-2", right);
    Image expected;
    expected.width = 880;
    expected.height = 480;
    expected.rgb.assign(size_t(880) * 480 * 3, 0);
    for (int y = 0; y < 480; ++y) {
      memcpy(&expected.rgb[size_t(y) * 880 * 3], &left.rgb[size_t(y) * 640 * 3],
             640 * 3);
      if (y < 320)
        memcpy(&expected.rgb[(size_t(y) * 880 + 640) * 3],
               &right.rgb[size_t(y) * 240 * 3], 240 * 3);
    }
    return expected;
  }

  TempDir dir_;
};

TEST_F(WaylandSnapShotTest, PngHoldsExactlyTheCompositorsPixels) {
  const Image expected = ShowTwoOutputs();
  ExpectScreen(expected);
  OutputCapture out;
  ASSERT_EQ(Snap(dir_.File("s.png"), 0), 1);
  EXPECT_EQ(out.Stop(), "");
  Image png;
  ASSERT_TRUE(DecodePng(dir_.File("s.png"), &png));
  EXPECT_EQ(FirstDifference(png, expected), "");
}

TEST_F(WaylandSnapShotTest, JpegIsWhatLibjpegMakesOfTheCompositorsPixels) {
  const Image expected = ShowTwoOutputs();
  ExpectScreen(expected);
  for (int quality : {75, 100}) {
    SCOPED_TRACE(quality);
    const std::string path = dir_.File("s" + std::to_string(quality) + ".jpg");
    ASSERT_EQ(Snap(path, quality), 1);
    EXPECT_TRUE(ReadFile(path) == EncodeJpegReference(expected, quality));
  }
}

TEST_F(WaylandSnapShotTest, CompositorGoneMeansNoFileAndTheNextCallServes) {
  StartSway();
  sway_.Kill();
  EXPECT_EQ(Snap(dir_.File("gone.png"), 0), 0);
  StartSway();
  const Image pattern = ShowPattern(33);
  ASSERT_EQ(Snap(dir_.File("back.png"), 0), 1);
  Image png;
  ASSERT_TRUE(DecodePng(dir_.File("back.png"), &png));
  EXPECT_EQ(FirstDifference(png, pattern), "");
}

// A rootless Xwayland on sway, open to every local client (-ac): a test
// run as root reaches it from a child as the compositor's user.
class Xwayland {
 public:
  ~Xwayland() { Stop(); }
  bool Start() {
    const int number = Xvfb::UnusedDisplayNumber();
    name_ = ":" + std::to_string(number);
    pid_ = fork();
    if (pid_ == 0) {
      execlp("Xwayland", "Xwayland", name_.c_str(), "-rootless", "-noreset",
             "-ac", static_cast<char *>(nullptr));
      _exit(127);
    }
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    for (int i = 0; i < 200 && access(socket.c_str(), F_OK) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return pid_ > 0 && access(socket.c_str(), F_OK) == 0;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  const std::string &name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

struct Outcome {
  int result;
  int error;  // errno after the call
};

// SnapShot in a child running as uid (the compositor's user owns its
// socket); the caller's environment otherwise.
Outcome SnapAs(uid_t uid, const std::string &path) {
  kplat::CloseDisplays();
  Outcome outcome = {-1, 0};
  int fds[2];
  if (pipe(fds) != 0) return outcome;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (uid != geteuid() &&
        (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 ||
         setresuid(uid, uid, uid) != 0))
      _exit(2);
    errno = 0;
    Outcome mine;
    mine.result = Snap(path, 0);
    mine.error = errno;
    _exit(write(fds[1], &mine, sizeof mine) == sizeof mine ? 0 : 3);
  }
  close(fds[1]);
  if (pid > 0 && read(fds[0], &outcome, sizeof outcome) != sizeof outcome)
    outcome.result = -1;
  close(fds[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  return outcome;
}

class XwaylandSnapShotTest : public WaylandSnapShotTest {
 protected:
  void SetUp() override {
    WaylandSnapShotTest::SetUp();
    if (IsSkipped()) return;
    if (!HaveProgram("Xwayland")) GTEST_SKIP() << "needs Xwayland (xwayland)";
    StartSway();
    pattern_ = ShowPattern(34);
    ASSERT_TRUE(xwayland_.Start()) << "Xwayland did not start";
    setenv("DISPLAY", xwayland_.name().c_str(), 1);
    struct stat st;
    ASSERT_EQ(stat(sway_.runtimeDir().c_str(), &st), 0);
    uid_ = st.st_uid;
  }
  void TearDown() override {
    kplat::CloseDisplays();
    xwayland_.Stop();
    WaylandSnapShotTest::TearDown();
  }

  Image pattern_;
  Xwayland xwayland_;
  uid_t uid_ = 0;
};

// Its root window shows nothing of the desktop, so a picture of the
// pattern proves the compositor served.
TEST_F(XwaylandSnapShotTest, WaylandServesBeforeXwayland) {
  ASSERT_EQ(Snap(dir_.File("both.png"), 0), 1);
  Image png;
  ASSERT_TRUE(DecodePng(dir_.File("both.png"), &png));
  EXPECT_EQ(FirstDifference(png, pattern_), "");
}

// DISPLAY alone (an X program, a remote shell): the compositor is found by
// its socket in the runtime folder, and the picture is still the desktop.
TEST_F(XwaylandSnapShotTest, DisplayAloneIsServedByTheCompositorBehindIt) {
  unsetenv("WAYLAND_DISPLAY");
  const std::string path = sway_.runtimeDir() + "/x.png";
  const Outcome outcome = SnapAs(uid_, path);
  ASSERT_EQ(outcome.result, 1);
  Image png;
  ASSERT_TRUE(DecodePng(path, &png));
  EXPECT_EQ(FirstDifference(png, pattern_), "");
}

// No compositor to reach (no socket of the caller's own, or two to choose
// from): no file rather than Xwayland's black root window.
TEST_F(XwaylandSnapShotTest, NoCompositorToReachMeansNoPicture) {
  unsetenv("WAYLAND_DISPLAY");
  const std::string path = sway_.runtimeDir() + "/x.png";
  const std::string second = sway_.runtimeDir() + "/wayland-9";
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    uid_t uid = uid_;
    if (round == 0) uid = uid_ + 1;  // sway's socket is not this user's
    if (round == 1) setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    if (round == 2) {
      sway_.Use();
      unsetenv("WAYLAND_DISPLAY");
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address = {};
      address.sun_family = AF_UNIX;
      snprintf(address.sun_path, sizeof address.sun_path, "%s", second.c_str());
      ASSERT_EQ(
          bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
      close(fd);
      ASSERT_EQ(chown(second.c_str(), uid_, uid_), 0);
    }
    const auto start = std::chrono::steady_clock::now();
    const Outcome outcome = SnapAs(uid, path);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(3));
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.error, ENODEV);
    EXPECT_FALSE(FileExists(path));
  }
  unlink(second.c_str());
}

TEST(WaylandFallThrough, CompositorWithoutScreencopyLeavesTheTurnToX) {
  if (!HaveProgram("weston") || !HaveProgram("Xvfb"))
    GTEST_SKIP() << "needs weston and Xvfb";
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  Compositor weston(Compositor::Kind::kWeston);
  ASSERT_TRUE(weston.Start());
  weston.Use();
  Xvfb x;
  ASSERT_TRUE(x.Start("320x240x24"));
  setenv("DISPLAY", x.name().c_str(), 1);
  kplat::CloseDisplays();
  TempDir dir;
  ASSERT_EQ(Snap(dir.File("x.png"), 0), 1);
  kplat::CloseDisplays();
  Image png;
  ASSERT_TRUE(DecodePng(dir.File("x.png"), &png));
  EXPECT_EQ(png.width, 320);  // weston's screen is 640x480
  EXPECT_EQ(png.height, 240);
}

// weston has no screencopy, so the portal (the test's own) serves: each
// call asks it once, though the call begins two frames (the grab and the
// DIB section's GetDC), and the picture's file is read once and removed.
TEST(WaylandPortalSnapShot, EachCallMakesOneScreenshotRequest) {
  if (!HaveProgram("weston") || !HaveProgram("dbus-daemon"))
    GTEST_SKIP() << "needs weston and dbus-daemon";
  unsetenv("DISPLAY");
  Compositor weston(Compositor::Kind::kWeston);
  ASSERT_TRUE(weston.Start());
  weston.Use();
  TempDir dir;
  SessionBus bus;
  ASSERT_TRUE(bus.Start("none", dir.File("bus.log"), false));
  bus.Use();
  const Image image = Pattern(96, 64, 5);
  const std::string picture = dir.File("portal.png");
  PortalAnswer answer;
  answer.uri = FileUri(picture);
  FakePortal portal;
  ASSERT_TRUE(portal.Start(bus.address(), {answer}));
  kplat::CloseDisplays();
  for (int call = 1; call <= 2; ++call) {
    SCOPED_TRACE(call);
    const std::vector<uint8_t> bytes = EncodePng(image);
    FILE *f = fopen(picture.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    const std::string out = dir.File("s" + std::to_string(call) + ".png");
    EXPECT_EQ(Snap(out, 0), 1);
    EXPECT_EQ(portal.Screenshots(), call);
    EXPECT_FALSE(FileExists(picture));
    Image png;
    ASSERT_TRUE(DecodePng(out, &png));
    EXPECT_EQ(FirstDifference(png, image), "");
  }
  kplat::CloseDisplays();
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace
}  // namespace ktest
