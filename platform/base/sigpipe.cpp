#include "sigpipe.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>

namespace kplat {
namespace {

thread_local int t_callHolds = 0;
thread_local SigpipeBlock t_callBlock;

bool SigpipePending() {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

void BlockSigpipe(SigpipeBlock *block) {
  block->inCall = t_callHolds > 0;
  if (block->inCall) return;
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, &block->saved);
  block->wasPending = SigpipePending();
}

void RestoreSigpipe(const SigpipeBlock *block) {
  if (block->inCall) return;
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

void HoldSigpipeForCall() {
  if (t_callHolds == 0) BlockSigpipe(&t_callBlock);
  ++t_callHolds;
}

void ReleaseSigpipeForCall() {
  if (t_callHolds == 0) return;
  if (--t_callHolds == 0) RestoreSigpipe(&t_callBlock);
}

}  // namespace kplat
