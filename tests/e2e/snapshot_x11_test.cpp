// The whole library on real X servers: SnapShot's files against what the
// test computes from the server's own read-back.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "display.h"
#include "kestrel/kestrel.h"
#include "scenes.h"
#include "test_support.h"
#include "x11_testing.h"
#include "xvfb_fixture.h"

namespace {

using kplat::x11::SetShmPolicy;
using kplat::x11::ShmPolicy;

void UseServer(const ktest::Xvfb &server) {
  setenv("DISPLAY", server.name().c_str(), 1);
  kplat::CloseDisplays();
}

int Snap(const std::string &path, int quality) {
  return SnapShot(ktest::Utf16(path).c_str(), quality);
}

struct Screen {
  const char *name;
  const char *geometry;
  std::vector<std::string> extra;
};

class Scenes : public ::testing::TestWithParam<Screen> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start(GetParam().geometry, GetParam().extra));
    UseServer(server_);
    ktest::ServerImage drawn, readBack;
    ASSERT_TRUE(ktest::DrawScene(server_.name(), 4321, &drawn));
    ASSERT_TRUE(ktest::ReadBack(server_.name(), &readBack));
    ASSERT_TRUE(ktest::ExpectedRgb(server_.name(), readBack, &expected_));
  }
  void TearDown() override {
    kplat::CloseDisplays();
    SetShmPolicy(ShmPolicy::kAuto);
  }

  ktest::Xvfb server_;
  ktest::Image expected_;
  ktest::TempDir dir_;
};

TEST_P(Scenes, PngHoldsExactlyTheScreen) {
  ktest::OutputCapture out;
  ASSERT_EQ(Snap(dir_.File("s.png"), 0), 1);
  EXPECT_EQ(out.Stop(), "");
  ktest::Image png;
  ASSERT_TRUE(ktest::DecodePng(dir_.File("s.png"), &png));
  EXPECT_EQ(png.width, expected_.width);
  EXPECT_EQ(png.height, expected_.height);
  EXPECT_TRUE(png.rgb == expected_.rgb);
}

TEST_P(Scenes, JpegIsWhatLibjpegMakesOfTheScreen) {
  for (int quality : {75, 100}) {
    SCOPED_TRACE(quality);
    const std::string path = dir_.File("s" + std::to_string(quality) + ".jpg");
    ASSERT_EQ(Snap(path, quality), 1);
    EXPECT_TRUE(ktest::ReadFile(path) ==
                ktest::EncodeJpegReference(expected_, quality));
  }
}

const Screen kScreens[] = {
    {"Depth16_240x320", "240x320x16", {}},
    {"Depth16_243x100", "243x100x16", {}},
    {"Depth24_241x321", "241x321x24", {}},
    {"Depth24_1920x1080", "1920x1080x24", {}},
    {"Depth30_240x320", "240x320x30", {}},
    {"PseudoColor_201x150", "201x150x8", {}},
};

INSTANTIATE_TEST_SUITE_P(Xvfb, Scenes, ::testing::ValuesIn(kScreens),
                         [](const ::testing::TestParamInfo<Screen> &info) {
                           return std::string(info.param.name);
                         });

class Paths : public ::testing::Test {
 protected:
  void TearDown() override {
    kplat::CloseDisplays();
    SetShmPolicy(ShmPolicy::kAuto);
  }
  std::vector<uint8_t> Capture(const std::vector<std::string> &extra,
                               ShmPolicy policy, bool ownIpcNamespace) {
    ktest::Xvfb server;
    if (!server.Start("243x100x16", extra)) return {};
    UseServer(server);
    ktest::ServerImage drawn;
    if (!ktest::DrawScene(server.name(), 77, &drawn)) return {};
    const std::string path = dir_.File("p.png");
    unlink(path.c_str());
    if (!ownIpcNamespace) {
      SetShmPolicy(policy);
      if (Snap(path, 0) != 1) return {};
      return ktest::ReadFile(path);
    }
    const pid_t pid = fork();
    if (pid == 0) {
      if (unshare(CLONE_NEWIPC) != 0) _exit(2);
      kplat::CloseDisplays();
      SetShmPolicy(policy);
      _exit(Snap(path, 0) == 1 ? 0 : 1);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    return ktest::ReadFile(path);
  }
  ktest::TempDir dir_;
};

TEST_F(Paths, SharedMemoryOnOffAndUnusableGiveIdenticalFiles) {
  const std::vector<uint8_t> shm = Capture({}, ShmPolicy::kAuto, false);
  ASSERT_FALSE(shm.empty());
  EXPECT_TRUE(Capture({}, ShmPolicy::kSysVOnly, false) == shm);
  EXPECT_TRUE(Capture({"-extension", "MIT-SHM"}, ShmPolicy::kAuto, false) ==
              shm);
  EXPECT_TRUE(Capture({}, ShmPolicy::kSysVOnly, true) == shm);
  EXPECT_TRUE(Capture({}, ShmPolicy::kAuto, true) == shm);
}

class Faults : public ::testing::Test {
 protected:
  void TearDown() override { kplat::CloseDisplays(); }
  ktest::TempDir dir_;
};

TEST_F(Faults, NoServerFailsQuietly) {
  ktest::OutputCapture out;
  unsetenv("DISPLAY");
  kplat::CloseDisplays();
  EXPECT_EQ(Snap(dir_.File("a.png"), 0), 0);
  setenv("DISPLAY", ":986", 1);
  EXPECT_EQ(Snap(dir_.File("b.jpg"), 80), 0);
  EXPECT_EQ(out.Stop(), "");
  EXPECT_FALSE(ktest::FileExists(dir_.File("a.png")));
}

TEST_F(Faults, DeadServerThenBackAgain) {
  ktest::Xvfb server;
  const int number = ktest::Xvfb::UnusedDisplayNumber();
  ASSERT_TRUE(server.Start("240x320x16", {}, number));
  UseServer(server);
  ktest::OutputCapture out;
  ASSERT_EQ(Snap(dir_.File("1.png"), 0), 1);
  server.Kill();
  EXPECT_EQ(Snap(dir_.File("2.png"), 0), 0);
  EXPECT_EQ(Snap(dir_.File("3.jpg"), 90), 0);
  ASSERT_TRUE(server.Start("320x240x24", {}, number));
  ktest::ServerImage drawn, readBack;
  ASSERT_TRUE(ktest::DrawScene(server.name(), 6, &drawn));
  ASSERT_TRUE(ktest::ReadBack(server.name(), &readBack));
  ASSERT_EQ(Snap(dir_.File("4.png"), 0), 1);
  EXPECT_EQ(out.Stop(), "");
  ktest::Image expected, png;
  ASSERT_TRUE(ktest::ExpectedRgb(server.name(), readBack, &expected));
  ASSERT_TRUE(ktest::DecodePng(dir_.File("4.png"), &png));
  EXPECT_EQ(png.width, 320);
  EXPECT_TRUE(png.rgb == expected.rgb);
}

TEST_F(Faults, ServerDyingDuringARunOfCaptures) {
  ktest::Xvfb server;
  const int number = ktest::Xvfb::UnusedDisplayNumber();
  ASSERT_TRUE(server.Start("1920x1080x24", {}, number));
  UseServer(server);
  ktest::OutputCapture out;
  const pid_t killer = fork();
  if (killer == 0) {
    usleep(300000);
    kill(server.pid(), SIGKILL);
    _exit(0);
  }
  int ok = 0, failed = 0;
  for (int i = 0; i < 200 && failed < 2; ++i)
    (Snap(dir_.File("run.png"), 0) ? ok : failed)++;
  waitpid(killer, nullptr, 0);
  server.Kill();  // reaps it
  EXPECT_EQ(failed, 2);
  ASSERT_TRUE(server.Start("64x48x24", {}, number));
  EXPECT_EQ(Snap(dir_.File("after.png"), 0), 1);
  EXPECT_EQ(out.Stop(), "");
}

}  // namespace

namespace {

// The root resized by another client (RandR) between captures: a kept
// connection sees each new size at the next call, with the pixels drawn at
// that size.
TEST_F(Faults, AResizeBetweenCallsIsSeenByTheNextCall) {
  if (system("command -v xrandr >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "xrandr is not installed";
  ktest::Xvfb server;
  ASSERT_TRUE(server.Start("640x480x24", {}));
  UseServer(server);
  const std::string resize =
      "DISPLAY=" + server.name() + " xrandr --fb %s >/dev/null 2>&1";
  ktest::OutputCapture out;
  const char *sizes[] = {"640x480", "320x240", "640x480", "400x300"};
  for (const char *size : sizes) {
    char command[256];
    snprintf(command, sizeof command, resize.c_str(), size);
    system(command);  // xrandr may grumble about the output; the size is set
    ktest::ServerImage drawn, readBack;
    ASSERT_TRUE(ktest::DrawScene(server.name(), 11, &drawn));
    ASSERT_TRUE(ktest::ReadBack(server.name(), &readBack));
    ASSERT_EQ(Snap(dir_.File("r.png"), 0), 1) << size;
    ktest::Image expected, png;
    ASSERT_TRUE(ktest::ExpectedRgb(server.name(), readBack, &expected));
    ASSERT_TRUE(ktest::DecodePng(dir_.File("r.png"), &png));
    EXPECT_EQ(std::to_string(png.width) + "x" + std::to_string(png.height),
              size);
    EXPECT_TRUE(png.rgb == expected.rgb) << size;
  }
  EXPECT_EQ(out.Stop(), "");
}

}  // namespace
