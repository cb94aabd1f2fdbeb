// The shared library as a host sees it: one exported symbol, and loading,
// calling and unloading again and again.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

#include "test_support.h"

namespace {

std::string LibraryPath() {
  const char *dir = getenv("KESTREL_BUILD_DIR");
  return std::string(dir ? dir : ".") + "/libKestrel.so";
}

TEST(SharedLibrary, ExportsExactlySnapShot) {
  const std::string cmd = "nm -D --defined-only '" + LibraryPath() + "'";
  FILE *p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string symbols;
  char line[512];
  while (fgets(line, sizeof line, p)) {
    std::string s(line);
    symbols += s.substr(s.rfind(' ') + 1);
  }
  ASSERT_EQ(pclose(p), 0);
  EXPECT_EQ(symbols, "SnapShot\n");
}

// The whole symbol table, local symbols included: none of the test
// machinery (fault injection, the heap and close hooks, the memory display,
// the X test hooks) is linked into what ships.
TEST(SharedLibrary, HoldsNoTestMachinery) {
  const std::string cmd = "nm -C '" + LibraryPath() + "'";
  FILE *p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string table;
  char line[1024];
  while (fgets(line, sizeof line, p)) table += line;
  ASSERT_EQ(pclose(p), 0);
  ASSERT_NE(table.find("SnapShot"), std::string::npos);  // the table was read
  for (const char *name :
       {"__wrap_malloc", "__wrap_fclose", "__real_malloc", "KTestFailNth",
        "KTestInstallMemoryDisplay", "KTestGetLiveObjects", "ShouldFailNow",
        "MemoryDisplay", "SetShmPolicy", "LastReadPath", "LastX11ReadPath",
        "SetFake", "ForTests", "kplat::testing"})
    EXPECT_EQ(table.find(name), std::string::npos) << name;
}

TEST(SharedLibrary, LoadsCallsAndUnloadsRepeatedly) {
  ktest::TempDir dir;
  typedef int (*SnapShotFn)(const char16_t *, int);
  const int fds = ktest::CountOpenFds();
  for (int i = 0; i < 3; ++i) {
    void *lib = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    SnapShotFn snap = reinterpret_cast<SnapShotFn>(dlsym(lib, "SnapShot"));
    ASSERT_NE(snap, nullptr);
    ktest::OutputCapture out;
    const std::u16string path = ktest::Utf16(dir.File("x.png"));
    const int r = snap(path.c_str(), 0);
    // Without a display the call fails cleanly; with one it writes.
    EXPECT_EQ(r == 1, ktest::FileExists(dir.File("x.png")));
    EXPECT_EQ(snap(ktest::Utf16(dir.File("no/x.jpg")).c_str(), 75), 0);
    EXPECT_EQ(out.Stop(), "");
    EXPECT_EQ(dlclose(lib), 0);
  }
  EXPECT_EQ(ktest::CountOpenFds(), fds);
}

}  // namespace
