// libxcb writes to its socket with plain writev/sendmsg, so a write to a
// server that has gone away would raise SIGPIPE in the host: every entry
// into libxcb is bracketed by the platform's SIGPIPE guard.
#pragma once

#include "crt/sigpipe.h"

namespace kplat {
namespace x11 {

using kplat::BlockSigpipe;
using kplat::RestoreSigpipe;
using kplat::SigpipeBlock;

}  // namespace x11
}  // namespace kplat
