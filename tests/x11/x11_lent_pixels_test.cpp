// A screen-sized compatible bitmap whose pixels live in a shared segment the
// server writes into: the same pixels as the copying paths, one bitmap per
// segment, memory that stays valid when the server goes and is not shared
// with a fork child, and nothing left behind.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <string>
#include <vector>

#include "gdi_objects.h"
#include "x11_test_support.h"
#include "x11_testing.h"
#include "x_scene.h"

namespace {

using kplat::x11::LastReadPath;
using kplat::x11::ReadPath;
using kplat::x11::SetShmPolicy;
using kplat::x11::ShmPolicy;

// Mappings of our segments: memfd ones by name, SysV ones by the kernel's.
int CountSegmentMappings() {
  FILE *f = fopen("/proc/self/maps", "r");
  if (f == nullptr) return -1;
  char line[512];
  int n = 0;
  while (fgets(line, sizeof(line), f))
    if (strstr(line, "kestrel-screen") || strstr(line, "SYSV")) ++n;
  fclose(f);
  return n;
}

// A screen-compatible bitmap of the whole screen, selected in a memory DC.
struct ScreenBitmap {
  HDC screen = nullptr, mem = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  int w = 0, h = 0;

  bool Make() {
    screen = GetDC(nullptr);
    if (screen == nullptr) return false;
    w = GetDeviceCaps(screen, HORZRES);
    h = GetDeviceCaps(screen, VERTRES);
    mem = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, w, h);
    if (mem == nullptr || bitmap == nullptr) return false;
    old = SelectObject(mem, bitmap);
    return old != nullptr;
  }
  bool Grab() { return BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY) == TRUE; }
  const kplat::gdi::Bitmap &Object() const {
    return *kplat::gdi::LookupBitmap(bitmap);
  }
  bool Lent() const { return Object().lender != nullptr; }
  std::vector<uint32_t> Pixels() const {
    const kplat::gdi::Bitmap &bm = Object();
    return ktest::DecodeLittleEndian(bm.bits, bm.width, bm.height, bm.stride,
                                     bm.format.BytesPerPixel());
  }
  bool Release() {
    bool ok = true;
    if (old != nullptr) SelectObject(mem, old);
    if (mem != nullptr) ok = DeleteDC(mem) == TRUE;
    if (bitmap != nullptr) ok = DeleteObject(bitmap) == TRUE && ok;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    old = mem = screen = nullptr;
    bitmap = nullptr;
    return ok;
  }
  ~ScreenBitmap() { Release(); }
};

class LentPixels : public ::testing::Test {
 protected:
  void Start(const char *geometry, int display = -1) {
    ASSERT_TRUE(server_.Start(geometry, {}, display));
    ktest::UseServer(server_);
    ASSERT_TRUE(ktest::DrawScene(server_.name(), seed_++, &drawn_));
  }
  void TearDown() override {
    kplat::CloseDisplays();
    SetShmPolicy(ShmPolicy::kAuto);
  }
  ktest::Xvfb server_;
  ktest::ServerImage drawn_;
  uint32_t seed_ = 7;
};

class LentPixelsAtDepth : public LentPixels,
                          public ::testing::WithParamInterface<const char *> {};

TEST_P(LentPixelsAtDepth, ServerWritesTheBitmapInPlaceWithThePlainPixels) {
  Start(GetParam());
  for (ShmPolicy policy : {ShmPolicy::kAuto, ShmPolicy::kSysVOnly}) {
    kplat::CloseDisplays();
    SetShmPolicy(policy);
    ScreenBitmap bm;
    ASSERT_TRUE(bm.Make());
    EXPECT_TRUE(bm.Lent());
    ASSERT_TRUE(bm.Grab());
    EXPECT_EQ(LastReadPath(), ReadPath::kInPlace);
    EXPECT_TRUE(bm.Pixels() == drawn_.pixels);
  }
  // The socket path, with no segment at all, gives the same.
  kplat::CloseDisplays();
  SetShmPolicy(ShmPolicy::kOff);
  ScreenBitmap plain;
  ASSERT_TRUE(plain.Make());
  EXPECT_FALSE(plain.Lent());
  ASSERT_TRUE(plain.Grab());
  EXPECT_EQ(LastReadPath(), ReadPath::kSocket);
  EXPECT_TRUE(plain.Pixels() == drawn_.pixels);
}

INSTANTIATE_TEST_SUITE_P(Screens, LentPixelsAtDepth,
                         ::testing::Values("243x100x24", "640x480x24",
                                           "243x100x16", "97x61x8",
                                           "131x40x15"));

TEST_F(LentPixels, OnlyOneBitmapHoldsTheSegmentAtATime) {
  Start("243x100x24");
  ScreenBitmap first, second;
  ASSERT_TRUE(first.Make());
  ASSERT_TRUE(second.Make());
  EXPECT_TRUE(first.Lent());
  EXPECT_FALSE(second.Lent());
  EXPECT_NE(first.Object().bits, second.Object().bits);
  ASSERT_TRUE(second.Grab());
  EXPECT_EQ(LastReadPath(), ReadPath::kSharedMemory);
  ASSERT_TRUE(first.Grab());
  EXPECT_EQ(LastReadPath(), ReadPath::kInPlace);
  EXPECT_TRUE(first.Pixels() == drawn_.pixels);
  EXPECT_TRUE(second.Pixels() == drawn_.pixels);
  // Given back, the segment goes to the next bitmap.
  const uint8_t *segment = first.Object().bits;
  ASSERT_TRUE(first.Release());
  ScreenBitmap third;
  ASSERT_TRUE(third.Make());
  EXPECT_TRUE(third.Lent());
  EXPECT_EQ(third.Object().bits, segment);
}

TEST_F(LentPixels, BitmapsNotTheScreensSizeGetHeapMemory) {
  Start("243x100x24");
  HDC screen = GetDC(nullptr);
  HBITMAP small = CreateCompatibleBitmap(screen, 242, 100);
  HBITMAP tall = CreateCompatibleBitmap(screen, 243, 101);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(tall, nullptr);
  EXPECT_EQ(kplat::gdi::LookupBitmap(small)->lender, nullptr);
  EXPECT_EQ(kplat::gdi::LookupBitmap(tall)->lender, nullptr);
  EXPECT_TRUE(DeleteObject(small));
  EXPECT_TRUE(DeleteObject(tall));
  ReleaseDC(nullptr, screen);
}

TEST_F(LentPixels, BitmapOutlivesItsServer) {
  Start("243x100x24");
  ScreenBitmap bm;
  ASSERT_TRUE(bm.Make());
  ASSERT_TRUE(bm.Lent());
  ASSERT_TRUE(bm.Grab());
  server_.Kill();
  // The connection is found broken and dropped; the pixels stay.
  EXPECT_FALSE(bm.Grab());
  kplat::CloseDisplays();
  EXPECT_TRUE(bm.Pixels() == drawn_.pixels);
  const kplat::gdi::Bitmap &object = bm.Object();
  memset(object.bits, 0x5A, size_t(object.stride) * size_t(object.height));
  EXPECT_EQ(object.bits[0], 0x5A);
  EXPECT_TRUE(bm.Release());
  EXPECT_EQ(CountSegmentMappings(), 0);
}

TEST_F(LentPixels, BitmapFromAnEarlierServerReadsTheNewOne) {
  const int number = ktest::Xvfb::UnusedDisplayNumber();
  Start("243x100x24", number);
  ScreenBitmap bm;
  ASSERT_TRUE(bm.Make());
  ASSERT_TRUE(bm.Lent());
  ASSERT_TRUE(bm.Grab());
  server_.Kill();
  Start("243x100x24", number);  // another picture on a new server
  ASSERT_TRUE(bm.Grab());
  EXPECT_EQ(LastReadPath(), ReadPath::kSharedMemory);  // copied: orphaned
  EXPECT_TRUE(bm.Pixels() == drawn_.pixels);
  ASSERT_TRUE(bm.Release());
  // The orphan went with its bitmap; the next one is lent afresh.
  ScreenBitmap next;
  ASSERT_TRUE(next.Make());
  EXPECT_TRUE(next.Lent());
  ASSERT_TRUE(next.Grab());
  EXPECT_EQ(LastReadPath(), ReadPath::kInPlace);
  EXPECT_TRUE(next.Pixels() == drawn_.pixels);
}

TEST_F(LentPixels, ForkChildDoesNotShareTheParentsBitmap) {
  Start("243x100x24");
  ScreenBitmap bm;
  ASSERT_TRUE(bm.Make());
  ASSERT_TRUE(bm.Lent());
  ASSERT_TRUE(bm.Grab());
  const kplat::gdi::Bitmap &object = bm.Object();
  const size_t bytes = size_t(object.stride) * size_t(object.height);
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    // The child sees the parent's picture, scribbles over its copy, and
    // after the parent has scribbled too, still finds its own bytes.
    int code = bm.Pixels() == drawn_.pixels ? 0 : 11;
    memset(object.bits, 0x11, bytes);
    char c = 0;
    if (write(toParent[1], &c, 1) != 1 || read(toChild[0], &c, 1) != 1)
      _exit(12);
    for (size_t i = 0; code == 0 && i < bytes; ++i)
      if (object.bits[i] != 0x11) code = 13;
    // A grab here reads the screen over the child's own connection.
    if (code == 0 && (!bm.Grab() || bm.Pixels() != drawn_.pixels)) code = 14;
    _exit(code);
  }
  ASSERT_GT(pid, 0);
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  EXPECT_TRUE(bm.Pixels() == drawn_.pixels);
  memset(object.bits, 0x22, bytes);
  ASSERT_EQ(write(toChild[1], &c, 1), 1);
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(object.bits[bytes / 2], 0x22);  // the child's grab did not reach
  ASSERT_TRUE(bm.Grab());
  EXPECT_EQ(LastReadPath(), ReadPath::kInPlace);
  EXPECT_TRUE(bm.Pixels() == drawn_.pixels);
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

TEST_F(LentPixels, ThousandCallsLeaveNoSegmentOrDescriptorBehind) {
  Start("64x48x24");
  {
    ScreenBitmap warm;  // the kept segments exist from here on
    ASSERT_TRUE(warm.Make());
    ASSERT_TRUE(warm.Grab());
  }
  const int fds = ktest::CountOpenFds();
  const int maps = CountSegmentMappings();
  for (int i = 0; i < 1000; ++i) {
    ScreenBitmap bm;
    ASSERT_TRUE(bm.Make());
    ASSERT_TRUE(bm.Lent());
    ASSERT_TRUE(bm.Grab());
    ASSERT_TRUE(bm.Release());
  }
  EXPECT_EQ(ktest::CountOpenFds(), fds);
  EXPECT_EQ(CountSegmentMappings(), maps);
  kplat::CloseDisplays();
  EXPECT_EQ(CountSegmentMappings(), 0);
  EXPECT_EQ(ktest::CountOwnSysVSegments(), 0);
}

TEST_F(LentPixels, ServerThatCannotSeeOurSegmentsStillGivesThePixels) {
  Start("243x100x16");
  const pid_t pid = fork();
  if (pid == 0) {
    // In an IPC namespace of its own the server attaches some other
    // segment under our id; the bitmap falls back to the heap.
    if (unshare(CLONE_NEWIPC) != 0) _exit(10);
    kplat::CloseDisplays();
    SetShmPolicy(ShmPolicy::kSysVOnly);
    ScreenBitmap bm;
    if (!bm.Make()) _exit(11);
    if (bm.Lent()) _exit(12);
    if (!bm.Grab() || bm.Pixels() != drawn_.pixels) _exit(13);
    if (LastReadPath() != ReadPath::kSocket) _exit(14);
    _exit(0);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
