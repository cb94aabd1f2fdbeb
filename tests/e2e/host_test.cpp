// The library as hosts use it: kestrel-snap's command line, and the shared
// library loaded and unloaded again and again.
#include <dlfcn.h>
#include <fcntl.h>
#include <glob.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "emulation.h"
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

  RunResult Snap(const std::vector<std::string> &args, bool withDisplay = true,
                 const std::string &cwd = ".") {
    std::string cmd = "cd " + Quote(cwd) + " && ";
    cmd += withDisplay ? "DISPLAY=" + server_->name() + " "
                       : std::string("env -u DISPLAY ");
    // A run that hangs ends as a failure (status 124).
    cmd += "timeout 20 " + ktest::EmulatorPrefix() + Quote(KESTREL_SNAP_PATH);
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
  ExpectRefused({"-d", "soon", dir_.File("g.png")});
  ExpectRefused({"-d", "-1", dir_.File("g.png")});
  ExpectRefused({dir_.File("g.bmp")});
  ExpectRefused({"-q"});
  ExpectRefused({"-q", "high", dir_.File("h.jpg")});
  ExpectRefused({"-q", "12x", dir_.File("h.jpg")});
  ExpectRefused({"-q", "99999999999", dir_.File("h.jpg")});
  ExpectRefused({dir_.File("i.png"), dir_.File("j.png")});
  ExpectRefused({"--frobnicate", dir_.File("k.png")});
  ExpectRefused({dir_.File("l\xff.png")});          // not UTF-8
  ExpectRefused({dir_.File("m\xed\xa0\x80.png")});  // a surrogate
  for (const char *name :
       {"g.bmp", "g.png", "h.jpg", "i.png", "j.png", "k.png"})
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
    const std::string cmd = ktest::EmulatorPrefix() + Quote(KESTREL_SNAP_PATH) +
                            " " + option + " >/dev/full 2>" +
                            Quote(dir_.File("err"));
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

// kestrel-snap writing into a pipe of one page whose reader takes a few
// bytes and leaves; its wait status.
int SnapIntoPipeThatCloses(const std::string &display, const std::string &err,
                           int quality) {
  int p[2];
  if (pipe(p) != 0) return -1;
  fcntl(p[1], F_SETPIPE_SZ, 4096);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(p[1], 1);
    close(p[0]);
    close(p[1]);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(e, 2);
    signal(SIGPIPE, SIG_DFL);
    setenv("DISPLAY", display.c_str(), 1);
    const std::string cmd = "exec " + ktest::EmulatorPrefix() +
                            Quote(KESTREL_SNAP_PATH) + " -q " +
                            std::to_string(quality) + " -";
    execl("/bin/sh", "sh", "-c", cmd.c_str(), (char *)nullptr);
    _exit(127);
  }
  close(p[1]);
  char head[10];
  size_t got = 0;
  while (got < sizeof head) {
    const ssize_t n = read(p[0], head + got, sizeof head - got);
    if (n <= 0) break;
    got += size_t(n);
  }
  close(p[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

TEST_F(Host, APipeWhoseReaderLeavesEndsWithOneNotASignal) {
  // More than the pipe holds, so the writer is still writing when the
  // reader goes.
  ASSERT_GT(ktest::EncodeJpegReference(*expected_, 100).size(), 8192u);
  const int status =
      SnapIntoPipeThatCloses(server_->name(), dir_.File("err"), 100);
  EXPECT_FALSE(WIFSIGNALED(status)) << "signal " << WTERMSIG(status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  const std::vector<uint8_t> err = ktest::ReadFile(dir_.File("err"));
  EXPECT_TRUE(OneLine(std::string(err.begin(), err.end())));
}

// Reads a FIFO into a file on a thread: waits (up to 30 s) for a writer,
// then takes everything until the writer closes.
struct FifoReader {
  int fd;
  std::string copy;
  std::thread thread;
  void Run() {
    std::vector<uint8_t> bytes;
    uint8_t buf[4096];
    for (int idle = 0; idle < 30000;) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) {
        bytes.insert(bytes.end(), buf, buf + n);
      } else if (n == 0 && bytes.empty()) {
        usleep(1000);  // no writer yet
        ++idle;
      } else {
        break;
      }
    }
    close(fd);
    if (FILE *f = fopen(copy.c_str(), "wb")) {
      fwrite(bytes.data(), 1, bytes.size(), f);
      fclose(f);
    }
  }
};

TEST_F(Host, AFifoNobodyReadsFailsAtOnceAndOneWithAReaderWorks) {
  const std::string fifo = dir_.File("p.png");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  RunResult run = Snap({"--", fifo});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(OneLine(run.err)) << run.err;
  FifoReader reader{
      open(fifo.c_str(), O_RDONLY | O_NONBLOCK), dir_.File("copy.png"), {}};
  ASSERT_GE(reader.fd, 0);
  ASSERT_EQ(fcntl(reader.fd, F_SETFL, 0), 0);
  reader.thread = std::thread(&FifoReader::Run, &reader);
  run = Snap({"--", fifo});
  reader.thread.join();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(IsPngOfTheScreen(reader.copy));
}

TEST_F(Host, FailedCapturesExitWithOneAndSayWhy) {
  RunResult run = Snap({dir_.File("no/such/dir/n.png")});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(OneLine(run.err));
  EXPECT_NE(run.err.find(strerror(ENOENT)), std::string::npos) << run.err;
  run = Snap({dir_.File("o.png")}, false);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(OneLine(run.err));
  EXPECT_NE(run.err.find("no screen found"), std::string::npos) << run.err;
  EXPECT_FALSE(ktest::FileExists(dir_.File("o.png")));
  // Without FILE, the file it made for the picture goes again.
  run = Snap({}, false, dir_.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no screen found"), std::string::npos) << run.err;
  glob_t left;
  EXPECT_EQ(glob(dir_.File("kestrel-*").c_str(), 0, nullptr, &left),
            GLOB_NOMATCH);
  globfree(&left);
}

// Standard output as the shell hands it over: a file already holding a
// header, a file opened for appending, a socket.
TEST_F(Host, DashAddsToTheDescriptorItWasGiven) {
  const std::string snap = "DISPLAY=" + server_->name() + " " +
                           ktest::EmulatorPrefix() + Quote(KESTREL_SNAP_PATH);
  const std::string f = Quote(dir_.File("f")), g = Quote(dir_.File("g"));
  const std::string script = "{ printf HEADER; " + snap + " -; } >" + f +
                             " && printf OLD >" + g + " && " + snap + " - >>" +
                             g;
  ASSERT_EQ(system(script.c_str()), 0);
  const std::vector<uint8_t> png = ktest::ReadFile(dir_.File("f"));
  ASSERT_GT(png.size(), 6u);
  EXPECT_EQ(std::string(png.begin(), png.begin() + 6), "HEADER");
  EXPECT_EQ(ktest::ReadFile(dir_.File("g")).size(), png.size() - 6 + 3);
  ASSERT_TRUE(ktest::WriteFile(
      dir_.File("p.png"), std::vector<uint8_t>(png.begin() + 6, png.end())));
  EXPECT_TRUE(IsPngOfTheScreen(dir_.File("p.png")));

  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(sv[1], 1);
    execl("/bin/sh", "sh", "-c", (snap + " -").c_str(), (char *)nullptr);
    _exit(127);
  }
  close(sv[1]);
  std::vector<uint8_t> got;
  uint8_t buf[4096];
  for (ssize_t n; (n = read(sv[0], buf, sizeof buf)) > 0;)
    got.insert(got.end(), buf, buf + n);
  close(sv[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(got == std::vector<uint8_t>(png.begin() + 6, png.end()));
  // No standard output at all: refused, not written into its own file.
  const int closed = system((snap + " - >&- 2>/dev/null").c_str());
  EXPECT_TRUE(WIFEXITED(closed) && WEXITSTATUS(closed) == 1);
}

// Without FILE: a new file named from the local time, next to names of
// that form that are taken (here, every second of the next few), which
// keep what they hold.
TEST_F(Host, NoFileMakesANewTimeNamedFileAndDelayWaits) {
  const std::string folder = dir_.File("here");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const time_t now = time(nullptr);
  std::vector<std::string> taken;
  for (time_t t = now; t < now + 4; ++t) {
    char name[64];
    struct tm local;
    localtime_r(&t, &local);
    strftime(name, sizeof name, "kestrel-%Y-%m-%d-%H%M%S.png", &local);
    taken.push_back(folder + "/" + name);
    ASSERT_TRUE(ktest::WriteFile(taken.back(), {'k', 'e', 'e', 'p'}));
  }
  const time_t start = time(nullptr);
  const RunResult run = Snap({"-d", "1"}, true, folder);
  EXPECT_GE(time(nullptr) - start, 1) << "no wait";
  EXPECT_EQ(run.status, 0) << run.err;
  for (const std::string &t : taken)
    EXPECT_EQ(ktest::ReadFile(t), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  int made = 0;
  for (const std::string &t : taken) {
    const std::string second = t.substr(0, t.size() - 4) + "-2.png";
    if (ktest::FileExists(second)) {
      ++made;
      EXPECT_TRUE(IsPngOfTheScreen(second));
    }
  }
  EXPECT_EQ(made, 1);
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
