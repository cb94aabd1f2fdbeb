// The JPEG writer: the file it makes, the qualities, the status text, and
// its failures.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "module_fixture.h"
#include "writers/jpeg_writer.h"

namespace {

using ktest::Image;
using ktest::JpegSegment;

Image Gradient(int w, int h) {
  Image img;
  img.width = w;
  img.height = h;
  img.rgb.resize(size_t(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t *p = &img.rgb[(size_t(y) * w + x) * 3];
      p[0] = uint8_t(x * 255 / (w > 1 ? w - 1 : 1));
      p[1] = uint8_t(y * 255 / (h > 1 ? h - 1 : 1));
      p[2] = uint8_t((x + y) * 255 / (w + h));
    }
  return img;
}

class JpegWriterTest : public ModuleTest {
 protected:
  int Write(const std::string &name, const Image &img, int quality) {
    return WriteJpegFile(Path(name).c_str(), img.rgb.data(), img.width,
                         img.height, quality);
  }
  std::vector<JpegSegment> Segments(const std::string &name) {
    std::vector<JpegSegment> segs;
    EXPECT_TRUE(
        ktest::ParseJpegSegments(ktest::ReadFile(dir_.File(name)), &segs));
    return segs;
  }
};

TEST_F(JpegWriterTest, WritesBaselineJfifInTheFixedSegmentOrder) {
  const Image img = Gradient(241, 321);
  ASSERT_EQ(Write("a.jpg", img, 75), 1);
  const std::vector<uint8_t> file = ktest::ReadFile(dir_.File("a.jpg"));
  const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',
                          'F',  'I',  'F',  0x00, 0x01, 0x01, 0x00,
                          0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
  ASSERT_GE(file.size(), sizeof head);
  EXPECT_TRUE(std::equal(head, head + sizeof head, file.begin()));
  EXPECT_EQ(file[file.size() - 2], 0xFF);
  EXPECT_EQ(file.back(), 0xD9);

  const std::vector<JpegSegment> segs = Segments("a.jpg");
  std::vector<uint8_t> markers;
  for (const auto &s : segs) markers.push_back(s.marker);
  const std::vector<uint8_t> want = {0xE0, 0xDB, 0xDB, 0xC0, 0xC4,
                                     0xC4, 0xC4, 0xC4, 0xDA, 0xD9};
  EXPECT_EQ(markers, want);
  // SOF0: precision 8, 321 rows, 241 columns, Y 2x2 table 0, Cb/Cr 1x1 table 1.
  const std::vector<uint8_t> sof = {8, 0x01, 0x41, 0x00, 0xF1, 3,    1, 0x22,
                                    0, 2,    0x11, 1,    3,    0x11, 1};
  EXPECT_EQ(segs[3].data, sof);
  EXPECT_EQ(segs[1].data.size(), 65u);
  EXPECT_EQ(segs[1].data[0], 0x00);
  EXPECT_EQ(segs[2].data[0], 0x01);
  // The whole file is what libjpeg makes of these pixels with these settings.
  EXPECT_EQ(file, ktest::EncodeJpegReference(img, 75));
  EXPECT_EQ(ktest::StatusText(), "");
}

TEST_F(JpegWriterTest, QualityScalesTheQuantizationTables) {
  const Image img = Gradient(16, 16);
  const int cases[][2] = {{1, 255}, {25, 32}, {50, 16}, {75, 8}, {100, 1}};
  for (const auto &c : cases) {
    ASSERT_EQ(Write("q.jpg", img, c[0]), 1);
    const std::vector<JpegSegment> segs = Segments("q.jpg");
    ASSERT_GE(segs.size(), 3u);
    EXPECT_EQ(segs[1].data[1], c[1]) << "quality " << c[0];
    if (c[0] == 1 || c[0] == 100)
      for (size_t i = 1; i < 65; ++i) {
        ASSERT_EQ(segs[1].data[i], c[1]);
        ASSERT_EQ(segs[2].data[i], c[1]);
      }
  }
  ASSERT_EQ(Write("100.jpg", img, 100), 1);
  ASSERT_EQ(Write("101.jpg", img, 101), 1);
  ASSERT_EQ(Write("1000.jpg", img, 1000), 1);
  const auto f100 = ktest::ReadFile(dir_.File("100.jpg"));
  EXPECT_EQ(f100, ktest::ReadFile(dir_.File("101.jpg")));
  EXPECT_EQ(f100, ktest::ReadFile(dir_.File("1000.jpg")));
}

TEST_F(JpegWriterTest, OddSizesAreWrittenInFullAndDecodeClose) {
  const Image img = Gradient(241, 321);
  ASSERT_EQ(Write("odd.jpg", img, 100), 1);
  Image got;
  ASSERT_TRUE(ktest::DecodeJpeg(dir_.File("odd.jpg"), &got));
  ASSERT_EQ(got.width, 241);
  ASSERT_EQ(got.height, 321);
  int worst = 0;
  for (size_t i = 0; i < got.rgb.size(); ++i)
    worst = std::max(worst, std::abs(int(got.rgb[i]) - int(img.rgb[i])));
  EXPECT_LE(worst, 12);  // quality 100 with 2x2 chroma subsampling
}

TEST_F(JpegWriterTest, MissingFolderSetsTheOpenFailureText) {
  const Image img = Gradient(4, 4);
  const std::string path = dir_.File("missing/%s%n%%.jpg");
  EXPECT_EQ(WriteJpegFile(ktest::Utf16(path).c_str(), img.rgb.data(), 4, 4, 75),
            0);
  EXPECT_EQ(ktest::StatusText(), "Can't open file\"" + path + "\"");
  EXPECT_EQ(ktest::StatusText().size(), path.size() + 17);
  EXPECT_FALSE(ktest::FileExists(dir_.File("missing")));

  // A long path is kept whole.
  const std::string longPath = dir_.File("missing/") + std::string(300, 'x');
  EXPECT_EQ(
      WriteJpegFile(ktest::Utf16(longPath).c_str(), img.rgb.data(), 4, 4, 75),
      0);
  EXPECT_EQ(ktest::StatusText().size(), longPath.size() + 17);

  // The next successful write empties it.
  EXPECT_EQ(Write("ok.jpg", img, 75), 1);
  EXPECT_EQ(ktest::StatusText(), "");
}

TEST_F(JpegWriterTest, EmptyAndOversizedImagesFailWithLibjpegsMessage) {
  const Image img = Gradient(4, 4);
  EXPECT_EQ(WriteJpegFile(Path("w0.jpg").c_str(), img.rgb.data(), 0, 4, 75), 0);
  EXPECT_EQ(ktest::StatusText(), "Empty JPEG image (DNL not supported)");
  EXPECT_EQ(ktest::FileSize(dir_.File("w0.jpg")), 0);
  EXPECT_EQ(WriteJpegFile(Path("h0.jpg").c_str(), img.rgb.data(), 4, 0, 75), 0);
  EXPECT_EQ(ktest::StatusText(), "Empty JPEG image (DNL not supported)");
  // The dimension check comes before any row is read.
  EXPECT_EQ(
      WriteJpegFile(Path("big.jpg").c_str(), img.rgb.data(), 65501, 1, 75), 0);
  EXPECT_EQ(ktest::StatusText(),
            "Maximum supported image dimension is 65500 pixels");
  EXPECT_EQ(ktest::FileSize(dir_.File("big.jpg")), 0);
}

TEST_F(JpegWriterTest, FullDeviceFailsWithTheDiskSpaceMessage) {
  const Image img = Gradient(64, 64);
  EXPECT_EQ(WriteJpegFile(u"/dev/full", img.rgb.data(), 64, 64, 75), 0);
  EXPECT_EQ(ktest::StatusText(),
            "Output file write error --- out of disk space?");
}

TEST_F(JpegWriterTest, StorageFillingMidWriteLeavesAClosedPartialFile) {
  const Image img = Gradient(512, 512);
  const std::string path = dir_.File("cut.jpg");
  fflush(nullptr);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Writes past 10000 bytes fail (EFBIG) instead of killing the child.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {10000, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &rl);
    const int r =
        WriteJpegFile(ktest::Utf16(path).c_str(), img.rgb.data(), 512, 512, 95);
    const bool msgOk =
        ktest::StatusText() == "Output file write error --- out of disk space?";
    _exit(r == 0 && msgOk ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const long size = ktest::FileSize(path);
  EXPECT_GT(size, 0);
  EXPECT_LE(size, 10000);
  // With room to spare the same path is written whole.
  EXPECT_EQ(Write("cut.jpg", img, 95), 1);
  EXPECT_GT(ktest::FileSize(path), 10000);
}

TEST_F(JpegWriterTest, InjectedOpenFailureSetsTheMessage) {
  const Image img = Gradient(4, 4);
  KTestFailNth(KTEST_OP_WFOPEN, 1);
  EXPECT_EQ(Write("f.jpg", img, 75), 0);
  EXPECT_EQ(ktest::StatusText(),
            "Can't open file\"" + dir_.File("f.jpg") + "\"");
  EXPECT_FALSE(ktest::FileExists(dir_.File("f.jpg")));
}

}  // namespace
