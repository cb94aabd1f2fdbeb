// A server that stops reading while the connection stays open makes
// libxcb's next write fail with EPIPE, which raises SIGPIPE unless the
// display holds it back. SIGPIPE keeps its default action here, so a leak
// ends the test binary.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include "display.h"
#include "display_probe.h"
#include "fake_x_server.h"
#include "xvfb_fixture.h"

namespace {

TEST(Sigpipe, WriteToAServerThatStoppedReadingFailsQuietly) {
  signal(SIGPIPE, SIG_DFL);
  const int number = ktest::Xvfb::UnusedDisplayNumber();
  ktest::FakeXServer server;
  ASSERT_TRUE(server.Start(number, ktest::FakeXServer::Mode::kDeaf));
  setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
  kplat::CloseDisplays();
  // Opening asks the server what it is (Xwayland or not), which is the
  // first write: the open fails then, or every call after it.
  ktest::DisplayProbe *display = ktest::SystemDisplay();
  if (display != nullptr) {
    int w, h;
    EXPECT_FALSE(display->GetSize(&w, &h));
    kplat::PixelFormat format;
    EXPECT_FALSE(display->GetFormat(&format));
    uint8_t px[4];
    EXPECT_FALSE(display->ReadPixels(0, 0, 1, 1, px, 4));
  }
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  kplat::CloseDisplays();
}

}  // namespace
