// A stand-in for the graphics layer's DeleteDC, which these tests do not
// link: it records the contexts it is given.
#pragma once

#include "windows.h"

struct FakeGdi {
  int deleteCalls;
  HDC lastDeleted;
};
extern FakeGdi g_fakeGdi;
