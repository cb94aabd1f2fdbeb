// The PNG writer: the datastream, the pixels, and its failures.
#include <malloc.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "module_fixture.h"
#include "writers/png_writer.h"

namespace {

using ktest::Image;
using ktest::PngChunk;

std::vector<uint8_t> Noise(int w, int h, uint32_t seed) {
  std::vector<uint8_t> bgr(size_t(w) * h * 3);
  uint32_t x = seed * 2654435761u + 1;
  for (auto &b : bgr) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = uint8_t(x);
  }
  return bgr;
}

class PngWriterTest : public ModuleTest {
 protected:
  void ExpectReleased() {
    EXPECT_EQ(g_pPng, nullptr);
    EXPECT_EQ(g_pPngInfo, nullptr);
    EXPECT_EQ(g_ppPngRows, nullptr);
  }
  // The picture the file should hold: the buffer's pixels with blue and red
  // swapped.
  static std::vector<uint8_t> AsRgb(const std::vector<uint8_t> &bgr) {
    std::vector<uint8_t> rgb(bgr.size());
    for (size_t i = 0; i < bgr.size(); i += 3) {
      rgb[i] = bgr[i + 2];
      rgb[i + 1] = bgr[i + 1];
      rgb[i + 2] = bgr[i];
    }
    return rgb;
  }
};

TEST_F(PngWriterTest, DatastreamHasOnlyHeaderDataAndEndChunks) {
  const std::vector<uint8_t> bgr = Noise(240, 320, 1);
  ASSERT_EQ(WritePngFile(Path("a.png").c_str(), bgr.data(), 240, 320), 1);
  ExpectReleased();
  std::vector<PngChunk> chunks;
  ASSERT_TRUE(
      ktest::ParsePngChunks(ktest::ReadFile(dir_.File("a.png")), &chunks));
  ASSERT_GE(chunks.size(), 4u);  // noise compresses badly: several IDATs
  EXPECT_EQ(chunks.front().type, "IHDR");
  const std::vector<uint8_t> ihdr = {0,    0, 0, 0xF0, 0, 0, 1,
                                     0x40, 8, 2, 0,    0, 0};
  EXPECT_EQ(chunks.front().data, ihdr);
  EXPECT_EQ(chunks.back().type, "IEND");
  EXPECT_TRUE(chunks.back().data.empty());
  for (size_t i = 1; i + 1 < chunks.size(); ++i) {
    EXPECT_EQ(chunks[i].type, "IDAT") << i;
    if (i + 2 < chunks.size())
      EXPECT_EQ(chunks[i].data.size(), 8192u) << i;
    else
      EXPECT_GE(chunks[i].data.size(), 1u);
  }
  for (const PngChunk &c : chunks) EXPECT_TRUE(c.crcOk) << c.type;

  Image got;
  ASSERT_TRUE(ktest::DecodePng(dir_.File("a.png"), &got));
  EXPECT_EQ(got.width, 240);
  EXPECT_EQ(got.height, 320);
  EXPECT_EQ(got.rgb, AsRgb(bgr));
}

TEST_F(PngWriterTest, OnePixelSwapsBlueAndRed) {
  const uint8_t px[3] = {0x10, 0x20, 0x30};
  ASSERT_EQ(WritePngFile(Path("1.png").c_str(), px, 1, 1), 1);
  std::vector<PngChunk> chunks;
  ASSERT_TRUE(
      ktest::ParsePngChunks(ktest::ReadFile(dir_.File("1.png")), &chunks));
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[1].type, "IDAT");
  Image got;
  ASSERT_TRUE(ktest::DecodePng(dir_.File("1.png"), &got));
  EXPECT_EQ(got.rgb, (std::vector<uint8_t>{0x30, 0x20, 0x10}));
}

TEST_F(PngWriterTest, ReadsExactlyTheBufferOfAnOddWidthImage) {
  // Exactly 18 bytes on the heap: a read past them shows under
  // AddressSanitizer.
  uint8_t *px = static_cast<uint8_t *>(malloc(18));
  for (int i = 0; i < 18; ++i) px[i] = uint8_t(i * 13 + 1);
  ASSERT_EQ(WritePngFile(Path("3x2.png").c_str(), px, 3, 2), 1);
  Image got;
  ASSERT_TRUE(ktest::DecodePng(dir_.File("3x2.png"), &got));
  EXPECT_EQ(got.rgb, AsRgb(std::vector<uint8_t>(px, px + 18)));
  free(px);
}

TEST_F(PngWriterTest, MissingFolderFailsWithoutFileOrStatusChange) {
  const std::vector<uint8_t> bgr = Noise(4, 4, 2);
  const std::string before = ktest::StatusText();
  EXPECT_EQ(WritePngFile(ktest::Utf16(dir_.File("no/x.png")).c_str(),
                         bgr.data(), 4, 4),
            0);
  EXPECT_FALSE(ktest::FileExists(dir_.File("no")));
  EXPECT_EQ(ktest::StatusText(), before);
  ExpectReleased();
}

TEST_F(PngWriterTest, FullDeviceFails) {
  // Small enough to sit in the stream's buffer until the close.
  const std::vector<uint8_t> bgr = Noise(2, 2, 3);
  EXPECT_EQ(WritePngFile(u"/dev/full", bgr.data(), 2, 2), 0);
  ExpectReleased();
  const std::vector<uint8_t> big = Noise(300, 300, 3);
  EXPECT_EQ(WritePngFile(u"/dev/full", big.data(), 300, 300), 0);
  ExpectReleased();
}

TEST_F(PngWriterTest, StorageFillingMidWriteLeavesAClosedPartialFile) {
  const std::vector<uint8_t> bgr = Noise(300, 300, 4);
  const std::string path = dir_.File("cut.png");
  fflush(nullptr);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {20000, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &rl);
    const int r =
        WritePngFile(ktest::Utf16(path).c_str(), bgr.data(), 300, 300);
    const bool released = !g_pPng && !g_pPngInfo && !g_ppPngRows;
    // The process carries on and writes again once there is room.
    struct rlimit wide = {RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &wide);
    const int again =
        WritePngFile(ktest::Utf16(path + ".2").c_str(), bgr.data(), 300, 300);
    _exit(r == 0 && released && again == 1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_GT(ktest::FileSize(path), 0);
  EXPECT_LE(ktest::FileSize(path), 20000);
  Image got;
  ASSERT_TRUE(ktest::DecodePng(path + ".2", &got));
  EXPECT_EQ(got.rgb, AsRgb(bgr));
}

TEST_F(PngWriterTest, ZeroSizeLeavesAnEmptyFile) {
  const std::vector<uint8_t> bgr = Noise(4, 4, 5);
  EXPECT_EQ(WritePngFile(Path("w0.png").c_str(), bgr.data(), 0, 4), 0);
  EXPECT_EQ(ktest::FileSize(dir_.File("w0.png")), 0);
  EXPECT_EQ(WritePngFile(Path("h0.png").c_str(), bgr.data(), 4, 0), 0);
  EXPECT_EQ(ktest::FileSize(dir_.File("h0.png")), 0);
  ExpectReleased();
}

TEST_F(PngWriterTest, RowArrayAllocationFailureLeavesHeaderOnly) {
  const std::vector<uint8_t> bgr = Noise(16, 16, 6);
  // The row-pointer array is the writer's last allocation through the heap.
  ASSERT_EQ(WritePngFile(Path("count.png").c_str(), bgr.data(), 16, 16), 1);
  const unsigned mallocs = KTestCallCount(KTEST_OP_MALLOC);
  ASSERT_GE(mallocs, 1u);
  KTestResetFaults();
  KTestFailNth(KTEST_OP_MALLOC, mallocs);
  EXPECT_EQ(WritePngFile(Path("rows.png").c_str(), bgr.data(), 16, 16), 0);
  EXPECT_EQ(ktest::FileSize(dir_.File("rows.png")), 33);
  ExpectReleased();
  // And the next call is whole again.
  EXPECT_EQ(WritePngFile(Path("rows.png").c_str(), bgr.data(), 16, 16), 1);
}

TEST_F(PngWriterTest, ManyWritesHoldNoMemoryOrDescriptors) {
  const std::vector<uint8_t> bgr = Noise(32, 32, 7);
  for (int i = 0; i < 10; ++i)
    WritePngFile(Path("m.png").c_str(), bgr.data(), 32, 32);
  const size_t heap = mallinfo2().uordblks;
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(WritePngFile(Path("m.png").c_str(), bgr.data(), 32, 32), 1) << i;
  ExpectReleased();
  EXPECT_EQ(mallinfo2().uordblks, heap);  // descriptors: the fixture checks
}

}  // namespace
