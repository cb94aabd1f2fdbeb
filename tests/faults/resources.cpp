#include <dirent.h>
#include <malloc.h>
#include <stdio.h>

#include "soak.h"
#include "test_support.h"

namespace kfault {
namespace {

int CountLines(const char *path) {
  FILE *f = fopen(path, "re");
  if (f == nullptr) return -1;
  int lines = 0;
  for (int c; (c = fgetc(f)) != EOF;)
    if (c == '\n') ++lines;
  fclose(f);
  return lines;
}

int CountEntries(const char *path) {
  DIR *d = opendir(path);
  if (d == nullptr) return -1;
  int n = 0;
  while (struct dirent *e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

}  // namespace

ProcessResources ReadResources() {
  // The C library's first use of what is read here allocates once.
  static bool s_warm = false;
  if (!s_warm) {
    s_warm = true;
    ReadResources();
  }
  ProcessResources r;
  r.heapInUse = mallinfo2().uordblks;
  r.descriptors = ktest::CountOpenFds();
  r.mappings = CountLines("/proc/self/maps");
  r.shmSegments = CountLines("/proc/sysvipc/shm") - 1;  // a header line
  r.threads = CountEntries("/proc/self/task");
  return r;
}

}  // namespace kfault
