// A host that calls the library after its unload-time cleanup has run:
//   late_call_host LIBRARY OUTDIR global|atexit
// It loads the library with dlopen in main, fails a JPEG capture (which
// leaves a status text) and captures once. Then, at exit,
// after the library's static destructors, either a global object's
// destructor or an atexit handler registered before the dlopen captures
// twice more. The results go to OUTDIR/results as "first late1 late2";
// the exit status is 0 when the host got to write them.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

typedef int (*SnapShotFn)(const char16_t *, int);

SnapShotFn g_snap = nullptr;
std::string g_dir;
int g_first = -1;

std::u16string Wide(const std::string &s) {
  return std::u16string(s.begin(), s.end());
}

// Only plain system calls: stdio may already be gone.
void LateCalls() {
  if (g_snap == nullptr) return;
  const int a = g_snap(Wide(g_dir + "/late1.png").c_str(), 0);
  const int b = g_snap(Wide(g_dir + "/late2.jpg").c_str(), 80);
  char text[64];
  const int n = snprintf(text, sizeof text, "%d %d %d\n", g_first, a, b);
  const int fd = open((g_dir + "/results").c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) {
    if (write(fd, text, size_t(n)) != n) _exit(3);
    close(fd);
  }
}

struct CallsAtDestruction {
  bool armed = false;
  ~CallsAtDestruction() {
    if (armed) LateCalls();
  }
} g_global;

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) return 2;
  g_dir = argv[2];
  const bool viaAtexit = strcmp(argv[3], "atexit") == 0;
  if (viaAtexit)
    atexit(LateCalls);
  else
    g_global.armed = true;
  void *lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return 2;
  g_snap = reinterpret_cast<SnapShotFn>(dlsym(lib, "SnapShot"));
  if (g_snap == nullptr) return 2;
  // The status text then holds a message of its own, freed at unload.
  if (g_snap(Wide(g_dir + "/no/such/dir.jpg").c_str(), 80) != 0) return 2;
  g_first = g_snap(Wide(g_dir + "/first.png").c_str(), 0);
  return 0;  // the library stays loaded: exit unloads it
}
