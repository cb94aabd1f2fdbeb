#include "winbase.h"

extern "C" LONG InterlockedCompareExchange(LONG volatile *target, LONG exchange,
                                           LONG comparand) {
  LONG expected = comparand;
  __atomic_compare_exchange_n(target, &expected, exchange, false,
                              __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return expected;
}

extern "C" LONG InterlockedExchange(LONG volatile *target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
