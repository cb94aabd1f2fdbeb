#include "deadline.h"

#include <time.h>

namespace kplat {
namespace {

int64_t NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

Deadline DeadlineIn(int ms) { return Deadline{NowMs() + ms}; }

int RemainingMs(const Deadline &deadline) {
  const int64_t left = deadline.atMs - NowMs();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : int(left);
}

}  // namespace kplat
