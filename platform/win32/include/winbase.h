// Interlocked operations of the device's core library (atomic, full-barrier
// reads and writes of a 32-bit value shared between threads), and the
// process's id.
#pragma once

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

// Stores exchange in *target when it holds comparand; returns what it held.
LONG InterlockedCompareExchange(LONG volatile *target, LONG exchange,
                                LONG comparand);
// Stores value in *target; returns what it held.
LONG InterlockedExchange(LONG volatile *target, LONG value);

// The calling process's id: never 0, and different in a child made by fork.
DWORD GetCurrentProcessId(void);

#ifdef __cplusplus
}
#endif
