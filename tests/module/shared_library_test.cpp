// The shared library as a host sees it: one exported symbol, and loading,
// calling and unloading again and again.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

std::string LibraryPath() {
  const char *dir = getenv("KESTREL_BUILD_DIR");
  return std::string(dir ? dir : ".") + "/libKestrel.so";
}

// The lines a binutils tool prints about the library; false when it failed.
bool ToolLines(const std::string &tool, std::vector<std::string> *lines) {
  const std::string cmd = tool + " '" + LibraryPath() + "'";
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return false;
  char line[1024];
  while (fgets(line, sizeof line, p)) lines->push_back(line);
  return pclose(p) == 0;
}

TEST(SharedLibrary, ExportsExactlySnapShot) {
  std::vector<std::string> lines;
  ASSERT_TRUE(ToolLines("nm -D --defined-only", &lines));
  std::string symbols;
  for (const std::string &s : lines) symbols += s.substr(s.rfind(' ') + 1);
  EXPECT_EQ(symbols, "SnapShot\n");
}

// The whole symbol table, local symbols included: none of the test
// machinery (fault injection, the heap and close hooks, the memory display,
// the X test hooks) is linked into what ships.
TEST(SharedLibrary, HoldsNoTestMachinery) {
  std::vector<std::string> lines;
  ASSERT_TRUE(ToolLines("nm -C", &lines));
  std::string table;
  for (const std::string &s : lines) table += s;
  ASSERT_NE(table.find("SnapShot"), std::string::npos);  // the table was read
  for (const char *name :
       {"__wrap_malloc", "__wrap_fclose", "__real_malloc", "KTestFailNth",
        "KTestInstallMemoryDisplay", "KTestGetLiveObjects", "ShouldFailNow",
        "MemoryDisplay", "SetShmPolicy", "LastReadPath", "kplat::testing"})
    EXPECT_EQ(table.find(name), std::string::npos) << name;
}

// libdbus is loaded only when the desktop portal is needed, so a host
// without it can still load the library.
TEST(SharedLibrary, NamesNoLibdbusAmongItsDependencies) {
  std::vector<std::string> lines;
  ASSERT_TRUE(ToolLines("objdump -p", &lines));
  std::string needed;
  for (const std::string &s : lines)
    if (s.find("NEEDED") != std::string::npos) needed += s;
  ASSERT_NE(needed.find("libc.so"), std::string::npos) << needed;
  EXPECT_EQ(needed.find("libdbus"), std::string::npos) << needed;
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
