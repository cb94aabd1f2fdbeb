#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "kestrel_testing.h"
#include "windows.h"

namespace {

class WFOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    KTestResetFaults();
    char tmpl[] = "/tmp/kestrel-wfopen-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    wdir_.assign(dir_.begin(), dir_.end());
  }
  void TearDown() override {
    for (const std::string &n : Names()) unlink((dir_ + "/" + n).c_str());
    rmdir(dir_.c_str());
  }
  // The names in the directory as the file system stores them.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    if (DIR *d = opendir(dir_.c_str())) {
      while (dirent *e = readdir(d)) names.insert(e->d_name);
      closedir(d);
    }
    names.erase(".");
    names.erase("..");
    return names;
  }
  std::string dir_;
  std::u16string wdir_;
};

TEST_F(WFOpen, NamesAreStoredAsExactUtf8) {
  for (const char16_t *name :
       {u"/caf\u00e9-\u65e5\u672c.jpg", u"/\U0001F600\U00010348.png"}) {
    FILE *f = _wfopen((wdir_ + name).c_str(), u"wb");
    ASSERT_NE(nullptr, f);
    fclose(f);
  }
  EXPECT_EQ((std::set<std::string>{"caf\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC.jpg",
                                   "\xF0\x9F\x98\x80\xF0\x90\x8D\x88.png"}),
            Names());
}

TEST_F(WFOpen, RefusesPathsWithoutExactUtf8AndNonAsciiModes) {
  for (const char16_t *name : {u"/a\xD800", u"/\xDC00z", u"/\xD83D\xD83D"}) {
    errno = 0;
    EXPECT_EQ(nullptr, _wfopen((wdir_ + name).c_str(), u"wb"));
    EXPECT_EQ(EILSEQ, errno);
  }
  errno = 0;
  EXPECT_EQ(nullptr, _wfopen((wdir_ + u"/m.bin").c_str(), u"w\u00e9"));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_EQ(nullptr, _wfopen(nullptr, u"wb"));
  EXPECT_TRUE(Names().empty());
}

TEST_F(WFOpen, InjectedFailuresOpenNothing) {
  // Long enough that the converted path needs a heap block.
  std::u16string longPath = wdir_;
  for (int i = 0; i < 150; ++i) longPath += u"/.";
  longPath += u"/x.png";
  KTestFailNth(KTEST_OP_WFOPEN, 1);
  EXPECT_EQ(nullptr, _wfopen(longPath.c_str(), u"wb"));
  EXPECT_EQ(ENOMEM, errno);
  KTestFailNth(KTEST_OP_MALLOC, 1);
  EXPECT_EQ(nullptr, _wfopen(longPath.c_str(), u"wb"));
  EXPECT_EQ(ENOMEM, errno);
  EXPECT_EQ(1u, KTestCallCount(KTEST_OP_MALLOC));
  EXPECT_TRUE(Names().empty());
  FILE *f = _wfopen(longPath.c_str(), u"wb");
  ASSERT_NE(nullptr, f);
  fclose(f);
  EXPECT_EQ(std::set<std::string>{"x.png"}, Names());
}

TEST_F(WFOpen, Truncates) {
  const std::string file = dir_ + "/t.bin";
  FILE *old = fopen(file.c_str(), "wb");
  ASSERT_NE(nullptr, old);
  fputs("old contents", old);
  fclose(old);
  FILE *f = _wfopen((wdir_ + u"/t.bin").c_str(), u"wb");
  ASSERT_NE(nullptr, f);
  fclose(f);
  struct stat st;
  ASSERT_EQ(0, stat(file.c_str(), &st));
  EXPECT_EQ(0, st.st_size);
}

}  // namespace
