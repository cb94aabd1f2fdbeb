// Device contexts: the screen's, handed out by GetDC, and memory contexts
// that hold one bitmap at a time.
#include <stdlib.h>

#include "gdi_objects.h"
#include "hook.h"
#include "screen_frame.h"
#include "wincrt.h"

namespace kplat {
namespace gdi {
namespace {

DeviceContext *NewDC(bool isScreen) {
  DeviceContext *dc =
      static_cast<DeviceContext *>(malloc(sizeof(DeviceContext)));
  if (dc == nullptr) return nullptr;
  const uintptr_t h = RegisterObject(ObjectKind::kDeviceContext, dc);
  if (h == 0) {
    free(dc);
    return nullptr;
  }
  dc->isScreen = isScreen;
  dc->selected = isScreen ? nullptr : StockBitmap();
  dc->handle = reinterpret_cast<HDC>(h);
  CountLive(isScreen ? LiveKind::kScreenDC : LiveKind::kMemoryDC, 1);
  return dc;
}

void FreeDC(DeviceContext *dc) {
  CountLive(dc->isScreen ? LiveKind::kScreenDC : LiveKind::kMemoryDC, -1);
  UnregisterObject(HandleValue(dc->handle));
  free(dc);
}

}  // namespace
}  // namespace gdi
}  // namespace kplat

using kplat::gdi::Bitmap;
using kplat::gdi::BitmapKind;
using kplat::gdi::DeviceContext;

extern "C" {

HDC WINAPI GetDC(HWND hWnd) {
  if (kplat::ShouldFail(KTEST_OP_GETDC)) return nullptr;
  if (hWnd != nullptr || kplat::gdi::JoinScreenFrame() == nullptr)
    return nullptr;
  DeviceContext *dc = kplat::gdi::NewDC(true);
  if (dc == nullptr) {
    kplat::gdi::LeaveScreenFrame();
    return nullptr;
  }
  return dc->handle;
}

int WINAPI ReleaseDC(HWND hWnd, HDC hDC) {
  DeviceContext *dc = kplat::gdi::LookupDC(hDC);
  if (hWnd != nullptr || dc == nullptr || !dc->isScreen) return 0;
  kplat::gdi::FreeDC(dc);
  kplat::gdi::LeaveScreenFrame();
  return 1;
}

int WINAPI GetDeviceCaps(HDC hdc, int nIndex) {
  if (kplat::gdi::LookupDC(hdc) == nullptr) return 0;
  kplat::Frame frame;
  if (!kplat::gdi::LookAtScreen(&frame)) return 0;
  switch (nIndex) {
    case HORZRES:
      return frame.width;
    case VERTRES:
      return frame.height;
    case BITSPIXEL:
      return frame.format.bitsPerPixel;
    case PLANES:
      return 1;
    default:
      return 0;
  }
}

HDC WINAPI CreateCompatibleDC(HDC hdc) {
  if (kplat::ShouldFail(KTEST_OP_CREATECOMPATIBLEDC)) return nullptr;
  if (hdc != nullptr && kplat::gdi::LookupDC(hdc) == nullptr) return nullptr;
  DeviceContext *dc = kplat::gdi::NewDC(false);
  return dc == nullptr ? nullptr : dc->handle;
}

BOOL WINAPI DeleteDC(HDC hdc) {
  DeviceContext *dc = kplat::gdi::LookupDC(hdc);
  if (dc == nullptr || dc->isScreen) return FALSE;
  // The selected bitmap outlives its context.
  if (dc->selected->kind != BitmapKind::kStock)
    dc->selected->selectedIn = nullptr;
  kplat::gdi::FreeDC(dc);
  return TRUE;
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
  DeviceContext *dc = kplat::gdi::LookupDC(hdc);
  Bitmap *bm = kplat::gdi::LookupBitmap(h);
  if (dc == nullptr || dc->isScreen || bm == nullptr) return nullptr;
  if (bm == dc->selected) return bm->handle;
  if (bm->kind != BitmapKind::kStock) {
    if (bm->selectedIn != nullptr) return nullptr;  // held by another DC
    bm->selectedIn = dc;
  }
  Bitmap *previous = dc->selected;
  if (previous->kind != BitmapKind::kStock) previous->selectedIn = nullptr;
  dc->selected = bm;
  return previous->handle;
}

}  // extern "C"
