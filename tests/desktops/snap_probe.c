/* One SnapShot call as a host makes it, for the desktop tests: prints
 * "result=R errno=E ms=T", errno as read right after a call that returned 0
 * ("-" after a success, where it means nothing). */
#define _GNU_SOURCE
#include <errno.h>
#include <kestrel/kestrel.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

int main(int argc, char **argv) {
  if (argc != 2 || strlen(argv[1]) >= 4096) {
    fprintf(stderr, "usage: snap_probe FILE.png (ASCII)\n");
    return 2;
  }
  WCHAR path[4096];
  size_t i = 0;
  for (; argv[1][i]; ++i) path[i] = (WCHAR)(unsigned char)argv[1][i];
  path[i] = 0;
  struct timespec a, b;
  clock_gettime(CLOCK_MONOTONIC, &a);
  errno = 0;
  const int result = SnapShot(path, 0);
  const int error = errno;
  clock_gettime(CLOCK_MONOTONIC, &b);
  const long ms =
      (b.tv_sec - a.tv_sec) * 1000 + (b.tv_nsec - a.tv_nsec) / 1000000;
  printf("result=%d errno=%s ms=%ld\n", result,
         result == 1 ? "-"
         : error     ? strerrorname_np(error)
                     : "0",
         ms);
  return result == 1 ? 0 : 1;
}
