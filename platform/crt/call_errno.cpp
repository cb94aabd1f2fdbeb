// The reason a call failed, kept apart from errno until the call returns.
#include "wincrt.h"

namespace {
thread_local int t_callErrno = 0;
}  // namespace

extern "C" void _clear_call_errno(void) { t_callErrno = 0; }

extern "C" void _note_call_errno(int error) {
  if (t_callErrno == 0) t_callErrno = error;
}

extern "C" int _get_call_errno(void) { return t_callErrno; }
