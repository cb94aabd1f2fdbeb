// The library as hosts use it: kestrel-snap's command line, and the shared
// library loaded and unloaded again and again.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "scenes.h"
#include "test_support.h"
#include "xvfb_fixture.h"

namespace {

struct RunResult {
  int status = -1;
  std::string out, err;
};

std::string Quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class Host : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new ktest::Xvfb;
    ASSERT_TRUE(server_->Start("160x120x24"));
    ktest::ServerImage drawn, readBack;
    ASSERT_TRUE(ktest::DrawScene(server_->name(), 11, &drawn));
    ASSERT_TRUE(ktest::ReadBack(server_->name(), &readBack));
    expected_ = new ktest::Image;
    ASSERT_TRUE(ktest::ExpectedRgb(server_->name(), readBack, expected_));
  }
  static void TearDownTestSuite() {
    delete server_;
    delete expected_;
  }

  RunResult Snap(const std::vector<std::string> &args,
                 bool withDisplay = true) {
    std::string cmd = withDisplay ? "DISPLAY=" + server_->name() + " "
                                  : std::string("env -u DISPLAY ");
    cmd += Quote(KESTREL_SNAP_PATH);
    for (const std::string &a : args) cmd += " " + Quote(a);
    cmd +=
        " >" + Quote(dir_.File("stdout")) + " 2>" + Quote(dir_.File("stderr"));
    RunResult run;
    const int status = system(cmd.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> out = ktest::ReadFile(dir_.File("stdout"));
    const std::vector<uint8_t> err = ktest::ReadFile(dir_.File("stderr"));
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    return run;
  }

  static bool OneLine(const std::string &s) {
    return !s.empty() && s.find('\n') == s.size() - 1;
  }

  void ExpectRefused(const std::vector<std::string> &args) {
    const RunResult run = Snap(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(OneLine(run.err)) << run.err;
    EXPECT_EQ(run.out, "");
  }

  bool IsPngOfTheScreen(const std::string &path) {
    ktest::Image png;
    return ktest::DecodePng(path, &png) && png.rgb == expected_->rgb;
  }

  static ktest::Xvfb *server_;
  static ktest::Image *expected_;
  ktest::TempDir dir_;
};

ktest::Xvfb *Host::server_;
ktest::Image *Host::expected_;

TEST_F(Host, HelpAndVersion) {
  RunResult run = Snap({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("usage: kestrel-snap"), std::string::npos);
  run = Snap({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("kestrel-snap ") + KESTREL_VERSION + "\n");
}

TEST_F(Host, FormatFollowsTheNameCaseInsensitively) {
  EXPECT_EQ(Snap({dir_.File("a.PNG")}).status, 0);
  EXPECT_TRUE(IsPngOfTheScreen(dir_.File("a.PNG")));
  EXPECT_EQ(Snap({dir_.File("b.jpg")}).status, 0);
  EXPECT_TRUE(ktest::ReadFile(dir_.File("b.jpg")) ==
              ktest::EncodeJpegReference(*expected_, 90));
  EXPECT_EQ(Snap({dir_.File("c.JpEg")}).status, 0);
  EXPECT_TRUE(ktest::ReadFile(dir_.File("c.JpEg")) ==
              ktest::EncodeJpegReference(*expected_, 90));
}

TEST_F(Host, QualityOptionOverridesTheName) {
  EXPECT_EQ(Snap({"-q", "40", dir_.File("d.png")}).status, 0);
  EXPECT_TRUE(ktest::ReadFile(dir_.File("d.png")) ==
              ktest::EncodeJpegReference(*expected_, 40));
  EXPECT_EQ(Snap({"-q", "0", dir_.File("e.bin")}).status, 0);
  EXPECT_TRUE(IsPngOfTheScreen(dir_.File("e.bin")));
  EXPECT_EQ(Snap({"-q", "-5", dir_.File("f.jpg")}).status, 0);
  EXPECT_TRUE(IsPngOfTheScreen(dir_.File("f.jpg")));
}

TEST_F(Host, BadCommandLinesAreRefusedWithOneLine) {
  ExpectRefused({});
  ExpectRefused({dir_.File("g.bmp")});
  ExpectRefused({"-q"});
  ExpectRefused({"-q", "high", dir_.File("h.jpg")});
  ExpectRefused({"-q", "12x", dir_.File("h.jpg")});
  ExpectRefused({"-q", "99999999999", dir_.File("h.jpg")});
  ExpectRefused({dir_.File("i.png"), dir_.File("j.png")});
  ExpectRefused({"--frobnicate", dir_.File("k.png")});
  ExpectRefused({dir_.File("l\xff.png")});          // not UTF-8
  ExpectRefused({dir_.File("m\xed\xa0\x80.png")});  // a surrogate
  for (const char *name : {"g.bmp", "h.jpg", "i.png", "j.png", "k.png"})
    EXPECT_FALSE(ktest::FileExists(dir_.File(name))) << name;
}

TEST_F(Host, DashWritesToStandardOutput) {
  RunResult run = Snap({"-"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(IsPngOfTheScreen(dir_.File("stdout")));
  run = Snap({"-q", "60", "-"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::vector<uint8_t>(run.out.begin(), run.out.end()) ==
              ktest::EncodeJpegReference(*expected_, 60));
}

TEST_F(Host, TextThatCannotBeWrittenFails) {
  for (const char *option : {"--help", "--version"}) {
    const std::string cmd = Quote(KESTREL_SNAP_PATH) + " " + option +
                            " >/dev/full 2>" + Quote(dir_.File("err"));
    const int status = system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << option;
    const std::vector<uint8_t> err = ktest::ReadFile(dir_.File("err"));
    EXPECT_TRUE(OneLine(std::string(err.begin(), err.end()))) << option;
  }
}

TEST_F(Host, QualitiesWithSignsOrBlanksAndBareExtensionsAreRefused) {
  for (const char *q : {" 5", "+5", "5 ", "-", "- 5", ""})
    ExpectRefused({"-q", q, dir_.File("p.jpg")});
  ExpectRefused({dir_.File(".png")});
  ExpectRefused({dir_.File(".JPEG")});
  ExpectRefused({"-q", "0", dir_.File(".jpg")});
  ExpectRefused({".png"});
  EXPECT_FALSE(ktest::FileExists(dir_.File("p.jpg")));
  EXPECT_FALSE(ktest::FileExists(dir_.File(".png")));
  // An extension after a name is still a name.
  EXPECT_EQ(Snap({dir_.File("x.png")}).status, 0);
}

TEST_F(Host, FailedCapturesExitWithOne) {
  RunResult run = Snap({dir_.File("no/such/dir/n.png")});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(OneLine(run.err));
  run = Snap({dir_.File("o.png")}, false);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(OneLine(run.err));
  EXPECT_FALSE(ktest::FileExists(dir_.File("o.png")));
}

TEST_F(Host, NonAsciiNamesArriveIntact) {
  const std::string name =
      dir_.File("\xc3\xa9t\xc3\xa9-\xe9\x9b\xaa-\xf0\x9f\x98\x80.png");
  EXPECT_EQ(Snap({name}).status, 0);
  EXPECT_TRUE(IsPngOfTheScreen(name));
}

TEST_F(Host, HundredLoadsAndUnloadsLeakNothing) {
  setenv("DISPLAY", server_->name().c_str(), 1);
  const std::string lib =
      std::string(getenv("KESTREL_BUILD_DIR")) + "/libKestrel.so";
  typedef int (*SnapShotFn)(const char16_t *, int);
  const std::u16string path = ktest::Utf16(dir_.File("loop.png"));
  int fds = -1;
  for (int i = 0; i < 101; ++i) {
    void *handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    SnapShotFn snap = reinterpret_cast<SnapShotFn>(dlsym(handle, "SnapShot"));
    ASSERT_NE(snap, nullptr);
    ASSERT_EQ(snap(path.c_str(), i % 2 ? 70 : 0), 1) << i;
    ASSERT_EQ(dlclose(handle), 0);
    // The first cycle may leave lasting state in the dependencies (libxcb,
    // libpng); from then on nothing may grow.
    if (i == 0) fds = ktest::CountOpenFds();
  }
  EXPECT_EQ(ktest::CountOpenFds(), fds);
}

}  // namespace
