// The common frame of the module tests: a temporary folder, a clean fault
// state, and after each test the checks that hold after every call of the
// library: no live graphics object, no descriptor left open, nothing
// written to stdout or stderr.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "kestrel_testing.h"
#include "screens.h"
#include "test_support.h"

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KTestResetFaults();
    capture_ = new ktest::OutputCapture();
    fds_ = ktest::CountOpenFds();
  }

  void TearDown() override {
    const int fds = ktest::CountOpenFds();
    const std::string printed = capture_->Stop();
    delete capture_;
    capture_ = nullptr;
    KTestResetFaults();
    KTestRemoveMemoryDisplay();
    EXPECT_EQ(printed, "") << "the library wrote to stdout or stderr";
    const KTestLiveObjects live = KTestGetLiveObjects();
    EXPECT_EQ(live.screenDCs, 0);
    EXPECT_EQ(live.memoryDCs, 0);
    EXPECT_EQ(live.bitmaps, 0);
    EXPECT_EQ(live.sections, 0);
    EXPECT_EQ(fds, fds_);
  }

  std::u16string Path(const std::string &name) const {
    return ktest::Utf16(dir_.File(name));
  }

  ktest::TempDir dir_;
  int fds_ = 0;
  ktest::OutputCapture *capture_ = nullptr;
};
