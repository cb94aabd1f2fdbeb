// libxcb writes to its socket with plain writev/sendmsg, so a write to a
// server that has gone away would raise SIGPIPE in the host: every entry
// into libxcb is bracketed by the platform's SIGPIPE guard (base/sigpipe.h);
// SigpipeGuard holds it for a scope.
#pragma once

#include "sigpipe.h"

namespace kplat {
namespace x11 {

using kplat::BlockSigpipe;
using kplat::RestoreSigpipe;
using kplat::SigpipeBlock;

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
