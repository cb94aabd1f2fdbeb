// The objects behind the graphics handles. A handle is never dereferenced:
// it is looked up in the registry of live objects, which checks that it
// names a live object of the expected kind before anything is read.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "display.h"
#include "wingdi.h"

namespace kplat {
namespace gdi {

struct DeviceContext;

enum class BitmapKind : uint8_t { kCompatible, kSection, kStock };

struct Bitmap {
  BitmapKind kind;
  bool bottomUp;  // sections with a positive biHeight
  int width;
  int height;                 // always positive
  ptrdiff_t stride;           // bytes per row in memory
  uint8_t *bits;              // malloc'ed pixels; NULL for the stock bitmap
  DeviceContext *selectedIn;  // the memory DC holding it; unused for stock
  HBITMAP handle;
  PixelFormat format;
  Display *lender;  // when bits were lent by this display instead of malloc'ed

  // Row 0 is the top row of the image whatever the memory order; the pitch
  // steps from one image row to the next (negative when bottom-up).
  uint8_t *TopRow() const {
    return bottomUp ? bits + (height - 1) * stride : bits;
  }
  ptrdiff_t Pitch() const { return bottomUp ? -stride : stride; }
};

struct DeviceContext {
  bool isScreen;
  Bitmap *selected;  // memory DCs: never NULL (the stock bitmap at least)
  HDC handle;
};

enum class ObjectKind : uint8_t { kNone, kDeviceContext, kBitmap };

// Enters an object into the registry; 0 when the registry is full or out of
// memory.
uintptr_t RegisterObject(ObjectKind kind, void *object);
// Removes a live object's entry; its handle is stale from then on.
void UnregisterObject(uintptr_t handle);
// The live object of that kind named by the handle, else NULL.
void *LookupObject(uintptr_t handle, ObjectKind kind);

// Frees the handle table at unload; every handle is invalid afterwards.
void ReleaseHandleTable();

// The 1x1 monochrome bitmap every new memory DC starts with. Shared, never
// deleted, never counted.
Bitmap *StockBitmap();

inline uintptr_t HandleValue(const void *h) {
  return reinterpret_cast<uintptr_t>(h);
}

inline DeviceContext *LookupDC(HDC h) {
  return static_cast<DeviceContext *>(
      LookupObject(HandleValue(h), ObjectKind::kDeviceContext));
}

inline Bitmap *LookupBitmap(HGDIOBJ h) {
  Bitmap *stock = StockBitmap();
  if (h != nullptr && h == stock->handle) return stock;
  return static_cast<Bitmap *>(
      LookupObject(HandleValue(h), ObjectKind::kBitmap));
}

}  // namespace gdi
}  // namespace kplat
