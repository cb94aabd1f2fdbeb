// A screen that changes size between the library's requests, on a fake X
// server that announces each resize as a real one does: every file a call
// reports written holds one whole frame of one size.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <string>

#include "display.h"
#include "fake_x_server.h"
#include "images.h"
#include "kestrel/kestrel.h"
#include "test_support.h"
#include "xvfb_fixture.h"

namespace {

// Whether the picture is the fake server's screen at one size throughout.
bool WholeFrame(const ktest::Image &png) {
  if (!((png.width == 64 && png.height == 48) ||
        (png.width == 40 && png.height == 30)))
    return false;
  for (int y = 0; y < png.height; ++y)
    for (int x = 0; x < png.width; ++x) {
      const uint32_t v = ktest::FakeXServer::Pixel(x, y, png.width, png.height);
      const uint8_t *p = &png.rgb[(size_t(y) * png.width + x) * 3];
      if (p[0] != (v >> 16 & 0xFF) || p[1] != (v >> 8 & 0xFF) ||
          p[2] != (v & 0xFF))
        return false;
    }
  return true;
}

TEST(ResizingScreen, EveryWrittenFileIsOneWholeFrame) {
  ktest::FakeXServer fake;
  // Flips between 64x48 and 40x30 after a pseudo-random run of requests,
  // so that every request of a capture is, now and then, the first to see
  // the new size.
  std::atomic<unsigned> state{12345};
  std::atomic<bool> big{true};
  fake.SetSize([&](uint16_t, int *w, int *h) {
    const unsigned s = state = state * 1103515245u + 12345u;
    if ((s >> 16) % 5 == 0) big = !big;
    *w = big ? 64 : 40;
    *h = big ? 48 : 30;
  });
  ASSERT_TRUE(fake.Start(ktest::Xvfb::UnusedDisplayNumber(),
                         ktest::FakeXServer::Mode::kAnswer));
  setenv("DISPLAY", fake.name().c_str(), 1);
  kplat::CloseDisplays();
  ktest::TempDir dir;
  const std::string file = dir.File("f.png");
  int written = 0, failed = 0, torn = 0;
  ktest::OutputCapture out;
  for (int i = 0; i < 600; ++i) {
    if (SnapShot(ktest::Utf16(file).c_str(), 0) != 1) {
      ++failed;
      continue;
    }
    ++written;
    ktest::Image png;
    if (!ktest::DecodePng(file, &png) || !WholeFrame(png)) ++torn;
  }
  EXPECT_EQ(out.Stop(), "");
  EXPECT_EQ(torn, 0) << "of " << written << " written";
  // Both outcomes occur: the sizes flip often enough to catch calls in the
  // middle, and seldom enough to let calls through.
  EXPECT_GT(written, 0);
  EXPECT_GT(failed, 0);
  kplat::CloseDisplays();
  unsetenv("DISPLAY");
}

}  // namespace
