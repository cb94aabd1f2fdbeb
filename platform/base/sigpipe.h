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
  bool inCall;      // the call's own block covers this one
};

void BlockSigpipe(SigpipeBlock *block);
void RestoreSigpipe(const SigpipeBlock *block);

// One block for a whole call into the library, made at its entry: the
// brackets inside it then cost no system calls (a capture made some forty,
// one per file buffer written among them). Nests; each hold needs its
// release on the same thread.
void HoldSigpipeForCall();
void ReleaseSigpipeForCall();

}  // namespace kplat
