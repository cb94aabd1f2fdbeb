// SnapShot from end to end on memory displays: the pictures it writes, the
// writer the quality picks, the status text, and what every failure leaves.
#include <fcntl.h>
#include <kestrel/kestrel.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "module_fixture.h"

namespace {

using ktest::Image;

class SnapShotTest : public ModuleTest {
 protected:
  int Snap(const std::string &name, int quality) {
    return SnapShot(Path(name).c_str(), quality);
  }
  Image Png(const std::string &name) {
    Image img;
    EXPECT_TRUE(ktest::DecodePng(dir_.File(name), &img)) << name;
    return img;
  }
  std::vector<uint8_t> Bytes(const std::string &name) {
    return ktest::ReadFile(dir_.File(name));
  }
};

class EveryFormat : public SnapShotTest,
                    public ::testing::WithParamInterface<ktest::ScreenFormat> {
};

TEST_P(EveryFormat, PngHoldsTheScreenAndJpegIsLibjpegsEncodingOfIt) {
  const int sizes[][2] = {{240, 320}, {241, 321}, {1, 1}};
  for (const auto &s : sizes) {
    Image expected;
    ASSERT_TRUE(
        ktest::InstallPatternScreen(GetParam(), s[0], s[1], 11, &expected));
    ASSERT_EQ(Snap("s.png", 0), 1);
    const Image got = Png("s.png");
    ASSERT_EQ(got.width, s[0]);
    ASSERT_EQ(got.height, s[1]);
    EXPECT_TRUE(got.rgb == expected.rgb) << s[0] << "x" << s[1];
    ASSERT_EQ(Snap("s.jpg", 75), 1);
    EXPECT_TRUE(Bytes("s.jpg") == ktest::EncodeJpegReference(expected, 75))
        << s[0] << "x" << s[1];
  }
}

INSTANTIATE_TEST_SUITE_P(Screens, EveryFormat,
                         ::testing::ValuesIn(ktest::AllScreenFormats()),
                         [](const auto &info) { return info.param.name; });

TEST_F(SnapShotTest, TopLeftComesFirstAndBottomRightLast) {
  Image pic;
  pic.width = 5;
  pic.height = 3;
  pic.rgb.assign(5 * 3 * 3, 0x40);
  const uint8_t tl[3] = {10, 20, 30}, br[3] = {200, 150, 100};
  std::copy(tl, tl + 3, pic.rgb.begin());
  std::copy(br, br + 3, pic.rgb.end() - 3);
  ASSERT_TRUE(ktest::InstallRgbScreen(pic));
  ASSERT_EQ(Snap("c.png", 0), 1);
  EXPECT_EQ(Png("c.png").rgb, pic.rgb);
}

TEST_F(SnapShotTest, QualityPicksTheWriter) {
  Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[4], 64, 48,
                                          5, &expected));
  ASSERT_EQ(Snap("0.out", 0), 1);
  ASSERT_EQ(Snap("-5.out", -5), 1);
  ASSERT_EQ(Snap("min.out", -2147483647 - 1), 1);
  EXPECT_EQ(Bytes("0.out")[1], 'P');
  EXPECT_EQ(Bytes("0.out"), Bytes("-5.out"));
  EXPECT_EQ(Bytes("0.out"), Bytes("min.out"));
  ASSERT_EQ(Snap("1.out", 1), 1);
  EXPECT_EQ(Bytes("1.out"), ktest::EncodeJpegReference(expected, 1));
  ASSERT_EQ(Snap("150.out", 150), 1);
  ASSERT_EQ(Snap("100.out", 100), 1);
  EXPECT_EQ(Bytes("150.out"), Bytes("100.out"));
  ASSERT_EQ(Snap("max.out", 2147483647), 1);
  EXPECT_EQ(Bytes("max.out"), Bytes("100.out"));
}

TEST_F(SnapShotTest, SecondCallReplacesTheFile) {
  Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[3], 300,
                                          200, 1, &expected));
  ASSERT_EQ(Snap("same", 100), 1);
  const long big = ktest::FileSize(dir_.File("same"));
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[3], 8, 8, 1,
                                          &expected));
  ASSERT_EQ(Snap("same", 100), 1);
  EXPECT_LT(ktest::FileSize(dir_.File("same")), big);
  EXPECT_EQ(Bytes("same"), ktest::EncodeJpegReference(expected, 100));
}

TEST_F(SnapShotTest, StatusTextFollowsOnlyJpegCalls) {
  Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[1], 16, 16,
                                          2, &expected));
  const std::string missing = dir_.File("none/%s.jpg");
  EXPECT_EQ(SnapShot(ktest::Utf16(missing).c_str(), 75), 0);
  const std::string openFail = "Can't open file\"" + missing + "\"";
  EXPECT_EQ(ktest::StatusText(), openFail);
  // PNG calls, failing or not, leave it alone.
  EXPECT_EQ(SnapShot(ktest::Utf16(dir_.File("none/x.png")).c_str(), 0), 0);
  EXPECT_EQ(Snap("ok.png", 0), 1);
  EXPECT_EQ(ktest::StatusText(), openFail);
  // A JPEG call that succeeds empties it.
  EXPECT_EQ(Snap("ok.jpg", 75), 1);
  EXPECT_EQ(ktest::StatusText(), "");
  EXPECT_EQ(SnapShot(u"/dev/full", 75), 0);
  EXPECT_EQ(ktest::StatusText(),
            "Output file write error --- out of disk space?");
  EXPECT_EQ(SnapShot(u"/dev/full", 0), 0);
  EXPECT_EQ(ktest::StatusText(),
            "Output file write error --- out of disk space?");
}

TEST_F(SnapShotTest, NullAndEmptyPathsFail) {
  Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[1], 4, 4, 2,
                                          &expected));
  EXPECT_EQ(SnapShot(nullptr, 75), 0);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(ktest::StatusText(), "Can't open file\"\"");
  EXPECT_EQ(SnapShot(u"", 0), 0);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(SnapShot(nullptr, 0), 0);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(SnapShotTest, NoScreenMeansNoFile) {
  KTestRemoveMemoryDisplay();
  if (HDC dc = GetDC(NULL)) {
    ReleaseDC(NULL, dc);
    GTEST_SKIP() << "a system display is reachable";
  }
  EXPECT_EQ(Snap("none.png", 0), 0);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_EQ(Snap("none.jpg", 75), 0);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_FALSE(ktest::FileExists(dir_.File("none.png")));
  EXPECT_FALSE(ktest::FileExists(dir_.File("none.jpg")));
}

TEST_F(SnapShotTest, CloseFailureAfterTheLastByteIsReported) {
  Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[3], 8, 8, 2,
                                          &expected));
  KTestFailNth(KTEST_OP_FCLOSE, 1);
  EXPECT_EQ(Snap("c.jpg", 75), 0);
  EXPECT_EQ(ktest::StatusText(),
            "Output file write error --- out of disk space?");
  KTestFailNth(KTEST_OP_FCLOSE, 1);
  EXPECT_EQ(Snap("c.png", 0), 0);
  EXPECT_EQ(Snap("c.png", 0), 1);
}

// errno after an encoder error (a screen too wide for JPEG) and after
// allocations that fail with cleanup still to do, which must not replace
// the reason.
TEST_F(SnapShotTest, ErrnoSaysWhy) {
  RGBQUAD palette[256] = {};
  const KTestDisplayFormat indexed = {8, 0, 0, 0, palette};
  const std::vector<uint8_t> row(65501, 0);
  ASSERT_EQ(KTestInstallMemoryDisplay(65501, 1, &indexed, row.data(), 65501),
            1);
  EXPECT_EQ(Snap("wide.jpg", 75), 0);  // libjpeg's limit is 65500
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(Snap("wide.png", 0), 1);

  Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[1], 4, 4, 2,
                                          &expected));
  for (KTestOp op : {KTEST_OP_MALLOC, KTEST_OP_CREATEDIBSECTION,
                     KTEST_OP_CREATECOMPATIBLEBITMAP}) {
    KTestFailNth(op, 1);
    EXPECT_EQ(Snap("m.png", 0), 0) << op;
    EXPECT_EQ(errno, ENOMEM) << op;
    KTestResetFaults();
  }
  EXPECT_EQ(Snap("m.png", 0), 1);
  // A file that not even root may write.
  if (access("/sys/kernel/notes", F_OK) == 0) {
    EXPECT_EQ(SnapShot(u"/sys/kernel/notes", 0), 0);
    EXPECT_EQ(errno, EACCES);
  }
}

// A pipe whose reader takes a few bytes and leaves: the system's EPIPE.
TEST_F(SnapShotTest, APipeWhoseReaderLeavesGivesEpipe) {
  Image expected;
  ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[4], 320,
                                          240, 5, &expected));
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  fcntl(p[1], F_SETPIPE_SZ, 4096);
  std::thread reader([&] {
    char head[10];
    EXPECT_GT(read(p[0], head, sizeof head), 0);
    close(p[0]);
  });
  const std::string path = "/proc/self/fd/" + std::to_string(p[1]);
  const int r = SnapShot(ktest::Utf16(path).c_str(), 100);
  const int why = errno;
  reader.join();
  close(p[1]);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(why, EPIPE);
}

}  // namespace
