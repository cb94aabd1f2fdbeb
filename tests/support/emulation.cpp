#include "emulation.h"

#include <dirent.h>
#include <limits.h>
#include <unistd.h>

#include <vector>

namespace ktest {
namespace {

// KESTREL_TEST_EMULATOR is the emulator's command line, words separated by
// '|', defined when the build has one.
std::vector<std::string> EmulatorWords() {
  std::vector<std::string> words;
#ifdef KESTREL_TEST_EMULATOR
  std::string list = KESTREL_TEST_EMULATOR;
  size_t start = 0;
  for (;;) {
    const size_t end = list.find('|', start);
    words.push_back(list.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
#endif
  return words;
}

std::string Quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

int CountTasks() {
  DIR *d = opendir("/proc/self/task");
  if (d == nullptr) return -1;
  int n = 0;
  while (const dirent *e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

// Counted during static construction, before any test can start a thread.
const int g_threadsAtStart = CountTasks();

}  // namespace

bool UnderEmulation() { return !EmulatorWords().empty(); }

std::string EmulatorPrefix() {
  std::string prefix;
  for (const std::string &w : EmulatorWords()) prefix += Quote(w) + " ";
  return prefix;
}

void ExecSelf(char **argv) {
  const std::vector<std::string> words = EmulatorWords();
  if (words.empty()) {
    execv("/proc/self/exe", argv);
    return;
  }
  // The emulator reports this program's own path for /proc/self/exe; the
  // emulator started anew would read its own.
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return;
  self[n] = '\0';
  std::vector<char *> args;
  for (const std::string &w : words)
    args.push_back(const_cast<char *>(w.c_str()));
  args.push_back(self);
  for (char **a = argv + 1; *a != nullptr; ++a) args.push_back(*a);
  args.push_back(nullptr);
  execv(args[0], args.data());
}

int ThreadsAtStart() { return UnderEmulation() ? g_threadsAtStart : 1; }

}  // namespace ktest
