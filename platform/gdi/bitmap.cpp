// Bitmaps: screen-compatible bitmaps, 24-bit DIB sections and the stock
// monochrome bitmap.
#include <stdlib.h>
#include <string.h>

#include "gdi/gdi_objects.h"
#include "gdi/pixel_memory.h"
#include "gdi/screen_frame.h"
#include "seam/test_seam.h"
#include "wincrt.h"

namespace kplat {
namespace gdi {
namespace {

// Slot 0 with generation 1: a value the registry never hands out.
const uintptr_t kStockHandle = uintptr_t(1) << 16;

Bitmap g_stock = {BitmapKind::kStock,
                  false,
                  1,
                  1,
                  2,  // monochrome rows are whole 16-bit words
                  nullptr,
                  nullptr,
                  reinterpret_cast<HBITMAP>(kStockHandle),
                  {1, 0, 0, 0, {{0, 0, 0, 0}, {255, 255, 255, 0}}},
                  nullptr};

// Pixel memory is capped at INT32_MAX bytes. The stride is checked first
// so that the product cannot overflow.
bool SizeFits(int64_t stride, int64_t rows) {
  const int64_t kMaxPixelBytes = INT32_MAX;
  const bool fits = stride <= kMaxPixelBytes && rows <= kMaxPixelBytes / stride;
  if (!fits) _note_call_errno(EOVERFLOW);
  return fits;
}

size_t PixelBytes(const Bitmap &bm) { return size_t(bm.stride) * bm.height; }

void FreePixels(Bitmap *bm) {
  if (bm->lender != nullptr) {
    bm->lender->ReturnPixels(bm->bits);
  } else {
    ReleasePixels(bm->bits, PixelBytes(*bm));
  }
}

// Allocates and registers a bitmap whose stride and size have been checked;
// NULL when memory or handles run out. Pixels come from lender when it has
// memory to lend (the screen reads into it without a copy), else the heap.
Bitmap *NewBitmap(BitmapKind kind, int width, int height, bool bottomUp,
                  int64_t stride, const PixelFormat &format,
                  const ScreenFrame *lender = nullptr) {
  Bitmap *bm = static_cast<Bitmap *>(malloc(sizeof(Bitmap)));
  if (bm == nullptr) return nullptr;
  bm->kind = kind;
  bm->height = height;
  bm->stride = ptrdiff_t(stride);
  bm->lender = nullptr;
  bm->bits = nullptr;
  if (lender != nullptr) {
    bm->bits = lender->display->LendPixels(lender->frame, width, height,
                                           ptrdiff_t(stride));
    if (bm->bits != nullptr) bm->lender = lender->display;
  }
  if (bm->bits == nullptr) bm->bits = AllocatePixels(size_t(stride * height));
  if (bm->bits == nullptr) {
    free(bm);
    return nullptr;
  }
  const uintptr_t h = RegisterObject(ObjectKind::kBitmap, bm);
  if (h == 0) {
    FreePixels(bm);
    free(bm);
    return nullptr;
  }
  bm->bottomUp = bottomUp;
  bm->width = width;
  bm->selectedIn = nullptr;
  bm->handle = reinterpret_cast<HBITMAP>(h);
  bm->format = format;
  CountLive(
      kind == BitmapKind::kSection ? LiveKind::kSection : LiveKind::kBitmap, 1);
  return bm;
}

// The format a bitmap compatible with hdc gets; false when there is none.
// *screen is the live frame when the format is its screen's: only then may
// the display lend the pixels.
bool CompatibleFormat(const DeviceContext &dc, PixelFormat *format,
                      const ScreenFrame **screen) {
  *screen = nullptr;
  if (!dc.isScreen && dc.selected->kind != BitmapKind::kStock) {
    *format = dc.selected->format;
    return true;
  }
  if (dc.isScreen) {
    const ScreenFrame *live = LiveScreenFrame();
    if (live == nullptr) return false;
    *format = live->frame.format;
    *screen = live;
    return true;
  }
  Frame frame;
  if (!LookAtScreen(&frame)) return false;
  *format = frame.format;
  return true;
}

}  // namespace

Bitmap *StockBitmap() { return &g_stock; }

}  // namespace gdi
}  // namespace kplat

using kplat::gdi::Bitmap;
using kplat::gdi::BitmapKind;
using kplat::gdi::DeviceContext;

extern "C" {

HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
  if (kplat::ShouldFail(KTEST_OP_CREATECOMPATIBLEBITMAP)) return nullptr;
  const DeviceContext *dc = kplat::gdi::LookupDC(hdc);
  if (dc == nullptr || cx <= 0 || cy <= 0) return nullptr;
  kplat::PixelFormat format;
  const kplat::gdi::ScreenFrame *screen = nullptr;
  if (!kplat::gdi::CompatibleFormat(*dc, &format, &screen) ||
      !kplat::IsSupportedFormat(format))
    return nullptr;
  const int64_t stride =
      (int64_t(cx) * format.BytesPerPixel() + 3) & ~int64_t(3);
  // A screen's picture goes on into a 24-bit section of the same size:
  // one that could not be made is refused here, before the screen is read.
  const int64_t sectionStride = (int64_t(cx) * 3 + 3) & ~int64_t(3);
  if (!kplat::gdi::SizeFits(stride, cy) ||
      !kplat::gdi::SizeFits(sectionStride, cy))
    return nullptr;
  Bitmap *bm = kplat::gdi::NewBitmap(BitmapKind::kCompatible, cx, cy, false,
                                     stride, format, screen);
  return bm == nullptr ? nullptr : bm->handle;
}

HBITMAP WINAPI CreateDIBSection(HDC hdc, const BITMAPINFO *pbmi, UINT usage,
                                void **ppvBits, HANDLE hSection, DWORD offset) {
  if (ppvBits != nullptr) *ppvBits = nullptr;
  if (kplat::ShouldFail(KTEST_OP_CREATEDIBSECTION)) return nullptr;
  if (hdc != nullptr && kplat::gdi::LookupDC(hdc) == nullptr) return nullptr;
  if (pbmi == nullptr || usage != DIB_RGB_COLORS || hSection != nullptr ||
      offset != 0)
    return nullptr;
  const BITMAPINFOHEADER &bi = pbmi->bmiHeader;
  if (bi.biSize < sizeof(BITMAPINFOHEADER) || bi.biWidth <= 0 ||
      bi.biHeight == 0 || bi.biPlanes != 1 || bi.biBitCount != 24 ||
      bi.biCompression != BI_RGB)
    return nullptr;
  const int64_t width = bi.biWidth;
  const int64_t height = bi.biHeight < 0 ? -int64_t(bi.biHeight) : bi.biHeight;
  const int64_t rowBytes = width * 3;
  const int64_t stride = (rowBytes + 3) & ~int64_t(3);
  if (!kplat::gdi::SizeFits(stride, height)) return nullptr;
  Bitmap *bm =
      kplat::gdi::NewBitmap(BitmapKind::kSection, int(width), int(height),
                            bi.biHeight > 0, stride, kplat::Bgr24Format());
  if (bm == nullptr) return nullptr;
  // Padding is the only part nobody writes; keep old heap bytes out of it.
  if (stride > rowBytes) {
    for (int64_t y = 0; y < height; ++y)
      memset(bm->bits + y * stride + rowBytes, 0, size_t(stride - rowBytes));
  }
  if (ppvBits != nullptr) *ppvBits = bm->bits;
  return bm->handle;
}

int WINAPI GetObject(HGDIOBJ h, int c, LPVOID pv) {
  const Bitmap *bm = kplat::gdi::LookupBitmap(h);
  if (bm == nullptr) return 0;
  if (pv == nullptr) return int(sizeof(BITMAP));
  if (c < int(sizeof(BITMAP))) return 0;
  BITMAP out;
  memset(&out, 0, sizeof(out));  // no stray bytes in the padding
  out.bmType = 0;
  out.bmWidth = bm->width;
  out.bmHeight = bm->height;
  out.bmWidthBytes = LONG(bm->stride);
  out.bmPlanes = 1;
  out.bmBitsPixel = WORD(bm->format.bitsPerPixel);
  out.bmBits = bm->kind == BitmapKind::kSection ? bm->bits : nullptr;
  memcpy(pv, &out, sizeof(out));  // pv need not be aligned
  return int(sizeof(BITMAP));
}

BOOL WINAPI DeleteObject(HGDIOBJ ho) {
  Bitmap *bm = kplat::gdi::LookupBitmap(ho);
  if (bm == nullptr || bm->kind == BitmapKind::kStock ||
      bm->selectedIn != nullptr)
    return FALSE;
  kplat::CountLive(bm->kind == BitmapKind::kSection ? kplat::LiveKind::kSection
                                                    : kplat::LiveKind::kBitmap,
                   -1);
  kplat::gdi::UnregisterObject(kplat::gdi::HandleValue(bm->handle));
  kplat::gdi::FreePixels(bm);
  free(bm);
  return TRUE;
}

}  // extern "C"
