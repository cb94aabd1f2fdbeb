// libxcb writes to its socket with plain writev/sendmsg, so a write to a
// server that has gone away would raise SIGPIPE in the host. Every entry into
// libxcb is bracketed by these two calls, which hold SIGPIPE back on this
// thread and swallow one that our own write raised. SigpipeGuard does both
// for a scope.
#pragma once

#include <signal.h>

namespace kplat {
namespace x11 {

struct SigpipeBlock {
  sigset_t saved;
  bool wasPending;  // a SIGPIPE that was not ours stays pending
};

void BlockSigpipe(SigpipeBlock *block);
void RestoreSigpipe(const SigpipeBlock *block);

class SigpipeGuard {
 public:
  SigpipeGuard() { BlockSigpipe(&block_); }
  ~SigpipeGuard() { RestoreSigpipe(&block_); }
  SigpipeGuard(const SigpipeGuard &) = delete;
  SigpipeGuard &operator=(const SigpipeGuard &) = delete;

 private:
  SigpipeBlock block_;
};

}  // namespace x11
}  // namespace kplat
