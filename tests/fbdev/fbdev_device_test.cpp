// How the framebuffer screen uses its device: where it reads, what it holds,
// and how it fails.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <thread>

#include "backends.h"
#include "fbdev_fixture.h"

namespace ktest {
namespace {

using Device = FbdevTest;

// An XRGB8888 screen whose pixel at (x, y) of the virtual screen is
// 0x00YYXX01 (distinct everywhere).
void Xrgb(FakeFramebuffer *fb, uint32_t xres, uint32_t yres, uint32_t xvirt,
          uint32_t yvirt, uint32_t lineLength) {
  fb->SetUp(xres, yres, 32, FB_VISUAL_TRUECOLOR);
  fb->var.xres_virtual = xvirt;
  fb->var.yres_virtual = yvirt;
  fb->SetChannels(16, 8, 8, 8, 0, 8);
  fb->fix.line_length = lineLength;
  fb->fix.smem_len = lineLength * yvirt;
  fb->memory.assign(fb->fix.smem_len, 0xCC);
  for (uint32_t y = 0; y < yvirt; ++y)
    for (uint32_t x = 0; x < xvirt; ++x)
      fb->Put(y, x * 4, {1, uint8_t(x), uint8_t(y), 0});
}

uint32_t At(uint32_t x, uint32_t y) { return y << 16 | x << 8 | 1; }

TEST_F(Device, ReadsTheVisibleAreaOfAPannedScreenWithWideRows) {
  Xrgb(&fb_, 3, 2, 8, 5, 8 * 4 + 24);
  fb_.var.xoffset = 4;
  fb_.var.yoffset = 2;
  Shot shot = Take();
  ASSERT_TRUE(shot.ok);
  EXPECT_EQ(shot.frame.width, 3);
  EXPECT_EQ(shot.frame.height, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(PixelAt(shot, x, y), At(x + 4, y + 2)) << x << "," << y;
  EXPECT_EQ(fb_.mmaps, 1);
  EXPECT_EQ(fb_.preads, 0);
}

TEST_F(Device, ReadsWithPreadWhereTheDriverRefusesMapping) {
  Xrgb(&fb_, 3, 2, 8, 5, 8 * 4 + 24);
  fb_.var.xoffset = 4;
  fb_.var.yoffset = 3;
  fb_.mmapAllowed = false;
  Shot shot = Take();
  ASSERT_TRUE(shot.ok);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(PixelAt(shot, x, y), At(x + 4, y + 3)) << x << "," << y;
  EXPECT_EQ(fb_.mmaps, 0);
  EXPECT_EQ(fb_.preads, 2);  // one per row
}

TEST_F(Device, PansByPixelsThatAreNotWholeBytes) {
  for (bool mapped : {true, false}) {
    fb_.SetUp(3, 2, 4, FB_VISUAL_PSEUDOCOLOR);
    fb_.var.xres_virtual = 8;
    fb_.var.yres_virtual = 3;
    fb_.fix.line_length = 5;
    fb_.fix.smem_len = 15;
    fb_.memory.assign(15, 0);
    fb_.var.xoffset = 3;
    fb_.var.yoffset = 1;
    fb_.Put(1, 1, {0x0A, 0xBC, 0xDE});
    fb_.Put(2, 1, {0x01, 0x23});
    fb_.mmapAllowed = mapped;
    Shot shot = Take();
    ASSERT_TRUE(shot.ok);
    EXPECT_EQ(PixelAt(shot, 0, 0), 0xAu);
    EXPECT_EQ(PixelAt(shot, 1, 0), 0xBu);
    EXPECT_EQ(PixelAt(shot, 2, 0), 0xCu);
    EXPECT_EQ(PixelAt(shot, 0, 1), 1u);
    EXPECT_EQ(PixelAt(shot, 1, 1), 2u);
    EXPECT_EQ(PixelAt(shot, 2, 1), 3u);
  }
}

TEST_F(Device, ReadsAPartOfTheScreenIntoABottomUpBuffer) {
  Xrgb(&fb_, 6, 4, 6, 4, 24);
  fb_.Sync();
  kplat::Frame frame;
  ASSERT_TRUE(display_.BeginFrame(&frame));
  uint32_t out[3][2] = {};
  // Rows 1..3, columns 2..3, last row first.
  ASSERT_TRUE(display_.ReadPixels(frame, 2, 1, 2, 3,
                                  reinterpret_cast<uint8_t *>(out[2]), -8));
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(out[2 - r][0], At(2, 1 + r));
    EXPECT_EQ(out[2 - r][1], At(3, 1 + r));
  }
  EXPECT_FALSE(display_.ReadPixels(frame, 5, 0, 2, 1,
                                   reinterpret_cast<uint8_t *>(out[0]), 8))
      << "a rectangle outside the frame";
  display_.EndFrame();
}

TEST_F(Device, HoldsNothingBetweenFrames) {
  Xrgb(&fb_, 2, 2, 2, 2, 8);
  fb_.Sync();
  kplat::Frame frame;
  ASSERT_TRUE(display_.BeginFrame(&frame));
  EXPECT_EQ(fb_.openFds, 1);
  EXPECT_EQ(fb_.liveMappings, 1);
  display_.EndFrame();
  EXPECT_EQ(fb_.openFds, 0);
  EXPECT_EQ(fb_.liveMappings, 0);
  EXPECT_NE(kplat::kFbdevBackend.open(), nullptr);
  EXPECT_EQ(fb_.openFds, 0);
  EXPECT_EQ(fb_.liveMappings, 0);
  uint8_t pixel[4];
  EXPECT_FALSE(display_.ReadPixels(frame, 0, 0, 1, 1, pixel, 4))
      << "no frame is open";
}

// Layouts that cannot be read: the frame does not begin and nothing stays
// open or mapped.
TEST_F(Device, RefusesWhatItCannotReadHoldingNothing) {
  struct Case {
    const char *what;
    void (*change)(FakeFramebuffer *);
  };
  const Case cases[] = {
      {"planar", [](FakeFramebuffer *f) { f->fix.type = FB_TYPE_PLANES; }},
      {"FOURCC",
       [](FakeFramebuffer *f) {
         f->fix.visual = FB_VISUAL_FOURCC;
         f->var.grayscale = 0x56595559;
       }},
      {"non-standard", [](FakeFramebuffer *f) { f->var.nonstd = 1; }},
      {"12 bits", [](FakeFramebuffer *f) { f->var.bits_per_pixel = 12; }},
      {"pseudocolour above 8 bits",
       [](FakeFramebuffer *f) { f->fix.visual = FB_VISUAL_PSEUDOCOLOR; }},
      {"channel wider than 10 bits",
       [](FakeFramebuffer *f) { f->SetField(&f->var.red, 16, 11); }},
      {"field outside the pixel",
       [](FakeFramebuffer *f) { f->SetField(&f->var.red, 30, 8); }},
      {"no colour map",
       [](FakeFramebuffer *f) {
         f->fix.visual = FB_VISUAL_DIRECTCOLOR;
         f->cmapLength = 0;
       }},
      {"rows past the memory", [](FakeFramebuffer *f) { f->var.yoffset = 1; }},
      {"row past the line",
       [](FakeFramebuffer *f) { f->fix.line_length = 4 * 4 - 1; }},
      {"empty", [](FakeFramebuffer *f) { f->var.xres = 0; }},
      {"too wide",
       [](FakeFramebuffer *f) {
         f->var.xres = 40000;
         f->fix.line_length = 160000;
       }},
  };
  for (const Case &c : cases) {
    Xrgb(&fb_, 4, 3, 4, 3, 16);
    c.change(&fb_);
    Shot shot = Take();
    EXPECT_FALSE(shot.ok) << c.what;
    EXPECT_EQ(kplat::kFbdevBackend.open(), nullptr) << c.what;
    EXPECT_EQ(fb_.openFds, 0) << c.what;
    EXPECT_EQ(fb_.liveMappings, 0) << c.what;
  }
  // Mono visuals are 1-bit only.
  fb_.SetUp(4, 1, 2, FB_VISUAL_MONO10);
  EXPECT_FALSE(Take().ok);
}

TEST_F(Device, AFrameGoesStaleWhenTheScreenChanges) {
  struct Case {
    const char *what;
    void (*change)(FakeFramebuffer *);
  };
  const Case cases[] = {
      {"size", [](FakeFramebuffer *f) { f->var.xres = 3; }},
      {"panning", [](FakeFramebuffer *f) { f->var.yoffset = 1; }},
      {"depth",
       [](FakeFramebuffer *f) {
         f->var.bits_per_pixel = 16;
         f->SetChannels(11, 5, 5, 6, 0, 5);
       }},
      {"memory moved", [](FakeFramebuffer *f) { f->fix.smem_start += 4096; }},
  };
  for (const Case &c : cases) {
    Xrgb(&fb_, 4, 2, 4, 4, 16);
    fb_.Sync();
    kplat::Frame frame;
    ASSERT_TRUE(display_.BeginFrame(&frame)) << c.what;
    c.change(&fb_);
    uint8_t row[16];
    EXPECT_FALSE(display_.ReadPixels(frame, 0, 0, 4, 1, row, 16)) << c.what;
    display_.EndFrame();
  }
}

TEST_F(Device, AFrameGoesStaleWhenThePaletteChanges) {
  fb_.SetUp(2, 1, 8, FB_VISUAL_PSEUDOCOLOR);
  fb_.Sync();
  kplat::Frame frame;
  ASSERT_TRUE(display_.BeginFrame(&frame));
  uint8_t row[2];
  EXPECT_TRUE(display_.ReadPixels(frame, 0, 0, 2, 1, row, 2));
  fb_.green[7] = 0x1234;
  EXPECT_FALSE(display_.ReadPixels(frame, 0, 0, 2, 1, row, 2));
}

TEST_F(Device, ADeviceThatVanishesFailsTheNextCallCleanly) {
  for (bool mapped : {true, false}) {
    Xrgb(&fb_, 64, 64, 64, 64, 256);
    fb_.mmapAllowed = mapped;
    fb_.Sync();
    kplat::Frame frame;
    ASSERT_TRUE(display_.BeginFrame(&frame));
    // The memory behind the mapping is gone too: touching it would raise
    // SIGBUS, so the read must fail before it does.
    fb_.Vanish();
    std::vector<uint8_t> pixels(64 * 64 * 4);
    EXPECT_FALSE(display_.ReadPixels(frame, 0, 0, 64, 64, pixels.data(), 256));
    display_.EndFrame();
    EXPECT_FALSE(display_.BeginFrame(&frame));
    EXPECT_FALSE(display_.Serves());
    UninstallFake();
    InstallFake(&fb_);
  }
}

TEST_F(Device, OpensTheDeviceFramebufferNamesElseFb0) {
  Xrgb(&fb_, 2, 2, 2, 2, 8);
  EXPECT_TRUE(Take().ok);
  EXPECT_EQ(fb_.lastPath, fb_.path);
  setenv("FRAMEBUFFER", "", 1);
  EXPECT_FALSE(Take().ok);
  EXPECT_EQ(fb_.lastPath, "/dev/fb0");
  unsetenv("FRAMEBUFFER");
  EXPECT_FALSE(Take().ok);
  EXPECT_EQ(fb_.lastPath, "/dev/fb0");
}

// On the real kernel calls: FRAMEBUFFER naming a FIFO (whose open would
// wait for a writer) or a plain file is refused at once. A helper opens the
// FIFO's other end after 3 s, so that an open that waits ends too.
TEST_F(Device, APathThatIsNoDeviceIsRefusedAtOnce) {
  UninstallFake();
  TempDir dir;
  const std::string fifo = dir.File("fifo"), file = dir.File("file");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 4096), 0);
  close(fd);
  for (const std::string &path : {fifo, file}) {
    setenv("FRAMEBUFFER", path.c_str(), 1);
    std::thread writer([&] {
      sleep(3);
      const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) close(fd);
    });
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    EXPECT_FALSE(display_.Serves()) << path;
    clock_gettime(CLOCK_MONOTONIC, &end);
    EXPECT_LT(end.tv_sec - start.tv_sec, 1) << path;
    writer.join();
  }
}

}  // namespace
}  // namespace ktest
