// No server, a server that dies between or during calls, SIGPIPE and fork:
// the display fails cleanly and recovers once a server is back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "display_probe.h"
#include "test_support.h"
#include "x11_test_support.h"
#include "x_scene.h"

namespace {

bool AllCallsFail(ktest::DisplayProbe *display) {
  int w, h;
  kplat::PixelFormat format;
  std::vector<uint8_t> buf(16);
  return !display->GetSize(&w, &h) && !display->GetFormat(&format) &&
         !display->ReadPixels(0, 0, 1, 1, buf.data(), 16);
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override { signal(SIGPIPE, SIG_DFL); }
  void TearDown() override { kplat::CloseDisplays(); }
  ktest::Xvfb server_;
};

TEST_F(Faults, NoServerMeansNoDisplayAndNoOutput) {
  ktest::OutputCapture capture;
  unsetenv("DISPLAY");
  kplat::CloseDisplays();
  EXPECT_EQ(ktest::SystemDisplay(), nullptr);
  setenv("DISPLAY", ":987", 1);
  EXPECT_EQ(ktest::SystemDisplay(), nullptr);
  setenv("DISPLAY", "no such display", 1);
  EXPECT_EQ(ktest::SystemDisplay(), nullptr);
  EXPECT_EQ(capture.Stop(), "");
}

TEST_F(Faults, LaterCallFindsAServerThatCameUp) {
  const int number = ktest::Xvfb::UnusedDisplayNumber();
  ASSERT_TRUE(server_.Start("64x48x24", {}, number));

  server_.Stop();
  ktest::UseServer(server_);
  EXPECT_EQ(ktest::SystemDisplay(), nullptr);
  ASSERT_TRUE(server_.Start("64x48x24", {}, number));
  EXPECT_NE(ktest::SystemDisplay(), nullptr);
}

TEST_F(Faults, ServerKilledBetweenCallsThenBackOnTheSameDisplay) {
  ktest::OutputCapture capture;
  const int number = ktest::Xvfb::UnusedDisplayNumber();
  ASSERT_TRUE(server_.Start("240x320x16", {}, number));
  ktest::UseServer(server_);

  std::vector<uint32_t> pixels;
  int w, h;
  kplat::PixelFormat format;
  ASSERT_TRUE(ktest::ReadScreen(&pixels, &w, &h, &format));
  ktest::DisplayProbe *display = ktest::SystemDisplay();

  server_.Kill();
  EXPECT_TRUE(AllCallsFail(display));
  EXPECT_TRUE(AllCallsFail(display));
  EXPECT_EQ(ktest::SystemDisplay(), nullptr);

  ASSERT_TRUE(server_.Start("320x240x16", {}, number));
  ktest::ServerImage drawn;
  ASSERT_TRUE(ktest::DrawScene(server_.name(), 3, &drawn));
  ASSERT_TRUE(ktest::ReadScreen(&pixels, &w, &h, &format));
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  EXPECT_TRUE(pixels == drawn.pixels);
  EXPECT_EQ(capture.Stop(), "");
}

TEST_F(Faults, ReplacedServerIsUsedWithoutAFailedCallBetween) {
  const int number = ktest::Xvfb::UnusedDisplayNumber();
  ASSERT_TRUE(server_.Start("240x320x24", {}, number));
  ktest::UseServer(server_);

  ktest::DisplayProbe *display = ktest::SystemDisplay();
  ASSERT_NE(display, nullptr);
  int w, h;
  ASSERT_TRUE(display->GetSize(&w, &h));
  server_.Kill();
  ASSERT_TRUE(server_.Start("100x50x24", {}, number));
  ASSERT_TRUE(display->GetSize(&w, &h));
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 50);
}

TEST_F(Faults, AFrameIsNotReadFromANewServerOfAnotherFormat) {
  const int number = ktest::Xvfb::UnusedDisplayNumber();
  ASSERT_TRUE(server_.Start("64x48x24", {}, number));
  ktest::UseServer(server_);

  kplat::Display *display = kplat::kX11Backend.open();
  ASSERT_NE(display, nullptr);
  kplat::Frame frame;
  ASSERT_TRUE(display->BeginFrame(&frame));
  EXPECT_EQ(frame.format.bitsPerPixel, 32);
  server_.Kill();
  ASSERT_TRUE(server_.Start("64x48x16", {}, number));
  std::vector<uint8_t> buf(64 * 4);
  EXPECT_FALSE(display->ReadPixels(frame, 0, 0, 64, 1, buf.data(), 64 * 4));
  display->EndFrame();
  ktest::DisplayProbe *probe = ktest::SystemDisplay();
  ASSERT_NE(probe, nullptr);
  kplat::PixelFormat format;
  ASSERT_TRUE(probe->GetFormat(&format));
  EXPECT_EQ(format.bitsPerPixel, 16);
  EXPECT_TRUE(probe->ReadPixels(0, 0, 64, 1, buf.data(), 64 * 4));
}

class DyingServer : public Faults,
                    public ::testing::WithParamInterface<const char *> {};

TEST_P(DyingServer, KilledDuringARunOfReads) {
  ktest::OutputCapture capture;
  std::vector<std::string> extra;
  if (std::string(GetParam()) == "socket") extra = {"-extension", "MIT-SHM"};
  const int number = ktest::Xvfb::UnusedDisplayNumber();
  ASSERT_TRUE(server_.Start("1920x1080x24", extra, number));
  ktest::UseServer(server_);

  ktest::DisplayProbe *display = ktest::SystemDisplay();
  ASSERT_NE(display, nullptr);
  std::vector<uint8_t> buf(1920 * 1080 * 4);
  ASSERT_TRUE(display->ReadPixels(0, 0, 1920, 1080, buf.data(), 1920 * 4));

  std::atomic<bool> killed(false);
  std::thread killer([&] {
    usleep(150000);
    server_.Kill();
    killed = true;
  });
  int failures = 0;
  for (int i = 0; i < 2000 && failures < 3; ++i)
    if (!display->ReadPixels(0, 0, 1920, 1080, buf.data(), 1920 * 4))
      ++failures;
  killer.join();
  EXPECT_TRUE(killed);
  EXPECT_EQ(failures, 3);

  ASSERT_TRUE(server_.Start("1920x1080x24", extra, number));
  ktest::ServerImage drawn;
  ASSERT_TRUE(ktest::DrawScene(server_.name(), 8, &drawn));
  std::vector<uint32_t> pixels;
  int w, h;
  kplat::PixelFormat format;
  ASSERT_TRUE(ktest::ReadScreen(&pixels, &w, &h, &format));
  EXPECT_TRUE(pixels == drawn.pixels);
  EXPECT_EQ(capture.Stop(), "");
}

INSTANTIATE_TEST_SUITE_P(Paths, DyingServer,
                         ::testing::Values("shm", "socket"));

bool SigpipeBlocked() {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, SIGPIPE) == 1;
}

bool SigpipePending() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGPIPE) == 1;
}

TEST_F(Faults, WritesToADeadServerRaiseNoSigpipe) {
  // SIGPIPE keeps its default action: one reaching us ends the test binary.
  ASSERT_TRUE(server_.Start("64x48x16", {"-extension", "MIT-SHM"}));
  ktest::UseServer(server_);
  ktest::DisplayProbe *display = ktest::SystemDisplay();
  ASSERT_NE(display, nullptr);
  server_.Kill();
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(AllCallsFail(display));
  EXPECT_FALSE(SigpipeBlocked());
  EXPECT_FALSE(SigpipePending());
}

TEST_F(Faults, HostsPendingSigpipeIsLeftAlone) {
  ASSERT_TRUE(server_.Start("64x48x16"));
  ktest::UseServer(server_);
  sigset_t pipe, saved;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, &saved);
  raise(SIGPIPE);
  ktest::DisplayProbe *display = ktest::SystemDisplay();
  ASSERT_NE(display, nullptr);
  int w, h;
  EXPECT_TRUE(display->GetSize(&w, &h));
  server_.Kill();
  EXPECT_FALSE(display->GetSize(&w, &h));
  EXPECT_TRUE(SigpipeBlocked());
  EXPECT_TRUE(SigpipePending());
  const struct timespec now = {0, 0};
  EXPECT_EQ(sigtimedwait(&pipe, nullptr, &now), SIGPIPE);
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

TEST_F(Faults, ForkedChildConnectsAfreshAndLeavesTheParentsConnection) {
  ASSERT_TRUE(server_.Start("243x100x16"));
  ktest::UseServer(server_);
  ktest::ServerImage drawn;
  ASSERT_TRUE(ktest::DrawScene(server_.name(), 17, &drawn));
  std::vector<uint32_t> pixels;
  int w, h;
  kplat::PixelFormat format;
  ASSERT_TRUE(ktest::ReadScreen(&pixels, &w, &h, &format));
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<uint32_t> childPixels;
    const bool ok = ktest::ReadScreen(&childPixels, &w, &h, &format) &&
                    childPixels == drawn.pixels;
    kplat::CloseDisplays();
    _exit(ok ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // Had the child shut the shared socket down, this would fail.
  ktest::DisplayProbe *display = ktest::SystemDisplay();
  ASSERT_NE(display, nullptr);
  std::vector<uint8_t> buf(243 * 2);
  EXPECT_TRUE(display->ReadPixels(0, 0, 243, 1, buf.data(), 243 * 2));
}

TEST_F(Faults, UnsupportedVisualHasNoFormat) {
  // Depth 8 TrueColor (3-3-2) is not among the platform's formats.
  ASSERT_TRUE(server_.Start("64x48x8", {"-cc", "4"}));
  ktest::UseServer(server_);
  ktest::DisplayProbe *display = ktest::SystemDisplay();
  ASSERT_NE(display, nullptr);
  kplat::PixelFormat format;
  EXPECT_FALSE(display->GetFormat(&format));
  std::vector<uint8_t> buf(64);
  EXPECT_FALSE(display->ReadPixels(0, 0, 8, 1, buf.data(), 64));
}

}  // namespace
