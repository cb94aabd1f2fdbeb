// Paths as a host may pass them: text beyond ASCII, surrogate pairs, broken
// UTF-16, printf directives, destinations that cannot be written.
#include <dirent.h>
#include <fcntl.h>
#include <kestrel/kestrel.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "module_fixture.h"

namespace {

class PathTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    ASSERT_TRUE(ktest::InstallPatternScreen(ktest::AllScreenFormats()[3], 8, 6,
                                            3, &expected_));
  }

  // The names in the temporary folder, as bytes.
  std::set<std::string> Names(const std::string &dir) const {
    std::set<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
      while (struct dirent *e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
          names.insert(e->d_name);
      closedir(d);
    }
    return names;
  }

  // The folder's path followed by "/" and the UTF-16 name.
  std::u16string In(const std::u16string &name) const {
    return Path("") + name;
  }

  bool HoldsTheScreen(const std::string &file, int quality) {
    if (quality < 1) {
      ktest::Image got;
      return ktest::DecodePng(file, &got) && got.rgb == expected_.rgb;
    }
    return ktest::ReadFile(file) ==
           ktest::EncodeJpegReference(expected_, quality);
  }

  ktest::Image expected_;
};

TEST_F(PathTest, NonAsciiNamesAreCreatedUnderTheirExactUtf8Bytes) {
  // Latin, Greek, CJK, and two characters outside the BMP (surrogate pairs).
  const std::u16string name =
      u"\u00e9t\u00e9-\u03a9-\u6f22\u5b57-\U0001F600\U00010348";
  const std::string utf8 =
      "\xc3\xa9t\xc3\xa9-\xce\xa9-\xe6\xbc\xa2\xe5\xad\x97-"
      "\xf0\x9f\x98\x80\xf0\x90\x8d\x88";
  for (int quality : {0, 60}) {
    const std::u16string suffix = quality ? u".jpg" : u".png";
    ASSERT_EQ(SnapShot(In(name + suffix).c_str(), quality), 1);
    const std::string file = utf8 + (quality ? ".jpg" : ".png");
    EXPECT_TRUE(HoldsTheScreen(dir_.File(file), quality));
  }
  EXPECT_EQ(Names(dir_.path()),
            (std::set<std::string>{utf8 + ".png", utf8 + ".jpg"}));
}

TEST_F(PathTest, UnpairedSurrogatesCreateNothing) {
  const std::u16string broken[] = {
      std::u16string(u"lone-high-") + char16_t(0xD83D) + u".png",
      std::u16string(u"lone-low-") + char16_t(0xDE00) + u".png",
      std::u16string(u"swapped-") + char16_t(0xDE00) + char16_t(0xD83D) +
          u".png",
      std::u16string(u"high-at-end-") + char16_t(0xD800)};
  for (const std::u16string &name : broken) {
    for (int quality : {0, 60}) {
      EXPECT_EQ(SnapShot(In(name).c_str(), quality), 0);
      EXPECT_EQ(errno, EILSEQ);
      if (quality) {
        EXPECT_EQ(ktest::StatusText().rfind("Can't open file\"", 0), 0u)
            << ktest::StatusText();
      }
    }
  }
  EXPECT_TRUE(Names(dir_.path()).empty());
}

TEST_F(PathTest, EmptyAndNullPathsFailWithoutAFile) {
  const std::set<std::string> cwd = Names(".");
  for (int quality : {0, 60}) {
    EXPECT_EQ(SnapShot(u"", quality), 0);
    EXPECT_EQ(SnapShot(nullptr, quality), 0);
  }
  EXPECT_EQ(ktest::StatusText(), "Can't open file\"\"");
  EXPECT_EQ(Names("."), cwd);
}

TEST_F(PathTest, PrintfDirectivesInAPathAreLiteralText) {
  const std::string name = "%s%n%%%d%ls%p";
  for (int quality : {0, 60}) {
    const std::string file = name + (quality ? ".jpg" : ".png");
    ASSERT_EQ(SnapShot(Path(file).c_str(), quality), 1);
    EXPECT_TRUE(HoldsTheScreen(dir_.File(file), quality));
    // And in the open-failure text, once for each directive.
    const std::string missing = dir_.File("no/" + file);
    EXPECT_EQ(SnapShot(ktest::Utf16(missing).c_str(), quality), 0);
    if (quality) {
      EXPECT_EQ(ktest::StatusText(), "Can't open file\"" + missing + "\"");
    }
  }
  EXPECT_EQ(Names(dir_.path()),
            (std::set<std::string>{name + ".png", name + ".jpg"}));
}

TEST_F(PathTest, APathThatCannotBeCopiedIsNotReplacedByAnEmptyOne) {
  ASSERT_EQ(SnapShot(Path("ok.jpg").c_str(), 60), 1);
  for (int quality : {0, 60}) {
    // The call's first allocation is its copy of the path.
    KTestResetFaults();
    KTestFailNth(KTEST_OP_MALLOC, 1);
    EXPECT_EQ(SnapShot(Path("x.jpg").c_str(), quality), 0);
    EXPECT_EQ(KTestCallCount(KTEST_OP_MALLOC), 1u) << "the capture went on";
    EXPECT_EQ(ktest::StatusText(), "");
  }
  EXPECT_FALSE(ktest::FileExists(dir_.File("x.jpg")));
}

TEST_F(PathTest, AFolderIsNotReplaced) {
  ASSERT_EQ(mkdir(dir_.File("d").c_str(), 0755), 0);
  for (int quality : {0, 60}) {
    EXPECT_EQ(SnapShot(Path("d").c_str(), quality), 0);
    EXPECT_EQ(errno, EISDIR);
    if (quality) {
      EXPECT_EQ(ktest::StatusText(),
                "Can't open file\"" + dir_.File("d") + "\"");
    }
  }
  struct stat st;
  ASSERT_EQ(stat(dir_.File("d").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_TRUE(Names(dir_.File("d")).empty());
}

TEST_F(PathTest, OverlongPathsFailWholeAndCreateNothing) {
  // Longer than the system's path limit; and one name beyond its name limit.
  std::string deep = dir_.path();
  while (deep.size() <= 4200) deep += "/abcdefghij";
  const std::string wide = dir_.File(std::string(300, 'n'));
  for (const std::string &path : {deep + ".jpg", wide}) {
    for (int quality : {0, 60}) {
      EXPECT_EQ(SnapShot(ktest::Utf16(path).c_str(), quality), 0);
      EXPECT_EQ(errno, ENAMETOOLONG);
      if (quality) {
        EXPECT_EQ(ktest::StatusText(), "Can't open file\"" + path + "\"");
      }
    }
  }
  EXPECT_TRUE(Names(dir_.path()).empty());
}

// Root ignores permission bits, so folders and files are made immutable
// instead.
class Immutable {
 public:
  explicit Immutable(const std::string &path) : path_(path) { ok_ = Set(true); }
  ~Immutable() { Set(false); }
  bool ok() const { return ok_; }

 private:
  bool Set(bool on) {
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return done;
  }
  std::string path_;
  bool ok_ = false;
};

TEST_F(PathTest, ReadOnlyFolderFailsAndKeepsItsFiles) {
  const std::string ro = dir_.File("ro");
  ASSERT_EQ(mkdir(ro.c_str(), 0755), 0);
  ASSERT_EQ(SnapShot(ktest::Utf16(ro + "/old.png").c_str(), 0), 1);
  const std::vector<uint8_t> old = ktest::ReadFile(ro + "/old.png");
  {
    Immutable lock(ro);
    if (!lock.ok())
      GTEST_SKIP() << "this file system cannot make a folder immutable";
    // A new file cannot be made there.
    for (int quality : {0, 60}) {
      EXPECT_EQ(SnapShot(ktest::Utf16(ro + "/new.jpg").c_str(), quality), 0);
      EXPECT_EQ(errno, EPERM);  // open's own answer for an immutable folder
      if (quality) {
        EXPECT_EQ(ktest::StatusText(), "Can't open file\"" + ro + "/new.jpg\"");
      }
    }
    EXPECT_EQ(Names(ro), std::set<std::string>{"old.png"});
  }
  // Nor is an immutable file truncated.
  const std::string oldFile = ro + "/old.png";
  {
    Immutable lockFile(oldFile);
    ASSERT_TRUE(lockFile.ok());
    EXPECT_EQ(SnapShot(ktest::Utf16(oldFile).c_str(), 0), 0);
  }
  EXPECT_EQ(ktest::ReadFile(oldFile), old);
}

}  // namespace
