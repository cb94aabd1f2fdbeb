// Shared memory, no shared memory, and shared memory the server cannot
// reach all give the same pixels; none of them leaks.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "display_probe.h"
#include "x11_test_support.h"
#include "x11_testing.h"
#include "x_scene.h"

namespace {

using kplat::x11::LastReadPath;
using kplat::x11::ReadPath;
using kplat::x11::SetShmPolicy;
using kplat::x11::ShmPolicy;

const char kGeometry[] = "243x100x16";

class Transport : public ::testing::Test {
 protected:
  void Start(const std::vector<std::string> &extra = {}) {
    ASSERT_TRUE(server_.Start(kGeometry, extra));
    ktest::UseServer(server_);
    ASSERT_TRUE(ktest::DrawScene(server_.name(), 99, &drawn_));
  }
  void TearDown() override {
    kplat::CloseDisplays();
    SetShmPolicy(ShmPolicy::kAuto);
  }
  bool Read(std::vector<uint32_t> *pixels) {
    int w, h;
    kplat::PixelFormat format;
    return ktest::ReadScreen(pixels, &w, &h, &format);
  }

  // Runs the read in a child with an IPC namespace of its own, where the
  // server cannot see SysV segments we make. Exit status 0: same pixels, by
  // the expected path.
  int ReadInOwnIpcNamespace(ShmPolicy policy, ReadPath expected) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (unshare(CLONE_NEWIPC) != 0) _exit(10);
      kplat::CloseDisplays();
      SetShmPolicy(policy);
      std::vector<uint32_t> pixels;
      if (!Read(&pixels)) _exit(11);
      if (pixels != drawn_.pixels) _exit(12);
      if (LastReadPath() != expected) _exit(13);
      _exit(0);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
  }

  ktest::Xvfb server_;
  ktest::ServerImage drawn_;
};

TEST_F(Transport, SharedMemoryIsUsedWhenTheServerOffersIt) {
  Start();
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(Read(&pixels));
  EXPECT_EQ(LastReadPath(), ReadPath::kSharedMemory);
  EXPECT_TRUE(pixels == drawn_.pixels);
}

TEST_F(Transport, SysVSegmentGivesTheSamePixels) {
  Start();
  SetShmPolicy(ShmPolicy::kSysVOnly);
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(Read(&pixels));
  EXPECT_EQ(LastReadPath(), ReadPath::kSharedMemory);
  EXPECT_TRUE(pixels == drawn_.pixels);
  // Marked for removal as soon as the server attached it.
  EXPECT_EQ(ktest::CountOwnSysVSegments(true), 0);
  // Gone once the server has handled the detach, which it does in its own
  // time after the disconnect.
  kplat::CloseDisplays();
  int left = ktest::CountOwnSysVSegments();
  for (int i = 0; i < 200 && left != 0; ++i) {
    usleep(10000);
    left = ktest::CountOwnSysVSegments();
  }
  EXPECT_EQ(left, 0);
}

TEST_F(Transport, ServerWithoutSharedMemoryIsReadOverTheSocket) {
  Start({"-extension", "MIT-SHM"});
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(Read(&pixels));
  EXPECT_EQ(LastReadPath(), ReadPath::kSocket);
  EXPECT_TRUE(pixels == drawn_.pixels);
}

TEST_F(Transport, SocketReadsInBandsOfASmallRequestLimit) {
  // Without BIG-REQUESTS a request is at most 256 KiB; a 1920x1080 screen
  // of 32-bit pixels then takes many bands.
  ASSERT_TRUE(server_.Start(
      "1920x1080x24", {"-extension", "MIT-SHM", "-extension", "BIG-REQUESTS"}));
  ktest::UseServer(server_);
  ASSERT_TRUE(ktest::DrawScene(server_.name(), 5, &drawn_));
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(Read(&pixels));
  EXPECT_EQ(LastReadPath(), ReadPath::kSocket);
  EXPECT_TRUE(pixels == drawn_.pixels);
}

TEST_F(Transport, UnreachableSysVSegmentFallsBackToTheSocket) {
  Start();
  EXPECT_EQ(ReadInOwnIpcNamespace(ShmPolicy::kSysVOnly, ReadPath::kSocket), 0);
}

TEST_F(Transport, PassedDescriptorWorksAcrossIpcNamespaces) {
  Start();
  EXPECT_EQ(ReadInOwnIpcNamespace(ShmPolicy::kAuto, ReadPath::kSharedMemory),
            0);
}

class Leaks : public Transport,
              public ::testing::WithParamInterface<ShmPolicy> {};

TEST_P(Leaks, ThousandReadsKeepDescriptorsAndSegmentsSteady) {
  Start();
  SetShmPolicy(GetParam());
  ktest::DisplayProbe *display = ktest::SystemDisplay();
  ASSERT_NE(display, nullptr);
  std::vector<uint8_t> buf(243 * 100 * 2);
  ASSERT_TRUE(display->ReadPixels(0, 0, 243, 37, buf.data(), 243 * 2));
  const int fds = ktest::CountOpenFds();
  const int segments = ktest::CountOwnSysVSegments();
  for (int i = 0; i < 1000; ++i) {
    // Alternating sizes make the segment grow and be reused.
    const int h = i % 2 ? 100 : 37;
    ASSERT_TRUE(display->ReadPixels(0, 0, 243, h, buf.data(), 243 * 2)) << i;
  }
  EXPECT_EQ(ktest::CountOpenFds(), fds);
  EXPECT_EQ(ktest::CountOwnSysVSegments(), segments);
  kplat::CloseDisplays();
  EXPECT_LT(ktest::CountOpenFds(), fds);
}

INSTANTIATE_TEST_SUITE_P(Policies, Leaks,
                         ::testing::Values(ShmPolicy::kAuto,
                                           ShmPolicy::kSysVOnly,
                                           ShmPolicy::kOff),
                         [](const ::testing::TestParamInfo<ShmPolicy> &info) {
                           switch (info.param) {
                             case ShmPolicy::kAuto:
                               return "Auto";
                             case ShmPolicy::kSysVOnly:
                               return "SysV";
                             default:
                               return "Off";
                           }
                         });

}  // namespace
