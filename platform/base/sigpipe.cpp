#include "sigpipe.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>

namespace kplat {
namespace {

bool SigpipePending() {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

void BlockSigpipe(SigpipeBlock *block) {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, &block->saved);
  block->wasPending = SigpipePending();
}

void RestoreSigpipe(const SigpipeBlock *block) {
  if (!block->wasPending && SigpipePending()) {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    const struct timespec now = {0, 0};
    const int saved = errno;
    while (sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
    }
    errno = saved;
  }
  pthread_sigmask(SIG_SETMASK, &block->saved, nullptr);
}

}  // namespace kplat
