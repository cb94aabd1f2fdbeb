#include <dirent.h>
#include <malloc.h>
#include <stdio.h>
#include <unistd.h>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

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

// System V segments this process made: other processes on the machine
// (X servers of other tests among them) make and remove their own.
int CountOwnShmSegments() {
  FILE *f = fopen("/proc/sysvipc/shm", "re");
  if (f == nullptr) return -1;
  char line[512];
  int n = 0;
  if (fgets(line, sizeof line, f) != nullptr) {  // the header
    long key, id, perms, size, creator;
    while (fgets(line, sizeof line, f) != nullptr)
      if (sscanf(line, "%ld %ld %lo %ld %ld", &key, &id, &perms, &size,
                 &creator) == 5 &&
          creator == long(getpid()))
        ++n;
  }
  fclose(f);
  return n;
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
  r.shmSegments = CountOwnShmSegments();
  r.threads = CountEntries("/proc/self/task");
  return r;
}

bool HeapNoHigher(size_t before, size_t after) {
  return after <= before + 2 * sizeof(size_t);
}

bool UnderValgrind() {
#ifdef RUNNING_ON_VALGRIND
  return RUNNING_ON_VALGRIND != 0;
#else
  return false;
#endif
}

bool MappingsCounted() {
#ifdef __SANITIZE_ADDRESS__
  // AddressSanitizer's allocator maps fresh regions while its quarantine
  // holds freed blocks back; the normal build counts mappings.
  return false;
#else
  return !UnderValgrind();
#endif
}

}  // namespace kfault
