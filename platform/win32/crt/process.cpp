// The process's id, as the core library reports it.
#include <unistd.h>

#include "winbase.h"

extern "C" DWORD GetCurrentProcessId(void) { return DWORD(getpid()); }
