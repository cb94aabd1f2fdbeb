#include "fake_gdi.h"

FakeGdi g_fakeGdi;

extern "C" BOOL WINAPI DeleteDC(HDC hdc) {
  ++g_fakeGdi.deleteCalls;
  g_fakeGdi.lastDeleted = hdc;
  return hdc != nullptr;
}
