/* A host that captures repeatedly: loads the library at LIB, makes one call,
 * then RUNS more, and prints the page faults and processor time per call as
 * the host's getrusage sees them. It allocates nothing between calls, so no
 * block of its own pins the C heap's top. Any build of the library can be
 * measured the same way (before and after a change).
 *   kestrel_host_calls LIB FILE QUALITY RUNS */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

typedef int (*SnapShotFn)(const uint16_t *, int);

static void Usage(long *faults, double *cpuMs) {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  *faults = u.ru_minflt + u.ru_majflt;
  *cpuMs = (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

static double WallMs(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int main(int argc, char **argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: kestrel_host_calls LIB FILE QUALITY RUNS\n");
    return 2;
  }
  void *lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  SnapShotFn snap = lib ? (SnapShotFn)dlsym(lib, "SnapShot") : NULL;
  if (snap == NULL) {
    fprintf(stderr, "kestrel_host_calls: %s\n", dlerror());
    return 1;
  }
  static uint16_t path[4096];
  const size_t n = strlen(argv[2]);
  if (n >= sizeof path / sizeof path[0]) return 2;
  for (size_t i = 0; i <= n; ++i) path[i] = (unsigned char)argv[2][i];
  const int quality = atoi(argv[3]), runs = atoi(argv[4]);
  if (runs <= 0) return 2;
  long f0, f1, f2;
  double c0, c1, c2;
  Usage(&f0, &c0);
  if (snap(path, quality) != 1) return 1;
  Usage(&f1, &c1);
  const double t0 = WallMs();
  for (int i = 0; i < runs; ++i)
    if (snap(path, quality) != 1) return 1;
  const double t1 = WallMs();
  Usage(&f2, &c2);
  printf(
      "first call %ld faults; then per call %.1f faults, %.3f ms cpu, "
      "%.3f ms wall\n",
      f1 - f0, (double)(f2 - f1) / runs, (c2 - c1) / runs, (t1 - t0) / runs);
  return 0;
}
