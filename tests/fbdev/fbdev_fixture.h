// Tests of the framebuffer screen against a fake device named by
// FRAMEBUFFER.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include "fake_fbdev.h"
#include "fbdev_test_support.h"
#include "test_support.h"

namespace ktest {

class FbdevTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fds_ = CountOpenFds();
    setenv("FRAMEBUFFER", fb_.path.c_str(), 1);
    InstallFake(&fb_);
  }
  void TearDown() override {
    display_.EndFrame();
    EXPECT_EQ(fb_.openFds, 0);
    EXPECT_EQ(fb_.liveMappings, 0);
    UninstallFake();
    unsetenv("FRAMEBUFFER");
    EXPECT_EQ(CountOpenFds(), fds_);
  }
  // Pushes the fake's setup and memory to the device and reads a frame.
  Shot Take() {
    fb_.Sync();
    return Capture(&display_);
  }

  FakeFramebuffer fb_;
  kplat::fbdev::FbdevDisplay display_;
  int fds_ = 0;
};

}  // namespace ktest
