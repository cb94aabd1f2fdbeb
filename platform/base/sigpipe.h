// A write to a pipe or socket whose reader has gone raises SIGPIPE, which
// ends a host that keeps the default action. Writes the platform makes for
// the host are bracketed by these two calls: SIGPIPE is held back on this
// thread and one that our own write raised is swallowed, so the write just
// fails with EPIPE.
#pragma once

#include <signal.h>

namespace kplat {

struct SigpipeBlock {
  sigset_t saved;
  bool wasPending;  // a SIGPIPE that was not ours stays pending
};

void BlockSigpipe(SigpipeBlock *block);
void RestoreSigpipe(const SigpipeBlock *block);

}  // namespace kplat
