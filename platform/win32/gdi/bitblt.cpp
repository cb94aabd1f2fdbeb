// BitBlt with SRCCOPY: bitmap to bitmap, or screen to bitmap, clipped to
// both and converted to 24-bit blue-green-red where the formats differ.
#include <stdlib.h>
#include <string.h>

#include "gdi_objects.h"
#include "hook.h"
#include "pixel_convert.h"
#include "screen_frame.h"
#include "wincrt.h"

namespace kplat {
namespace gdi {
namespace {

// Rows read from the screen per pass when its pixels need converting: big
// enough to keep calls few, small enough to stay in cache.
const int64_t kBandRows = 32;
const int64_t kBandBytes = 256 * 1024;

struct Blit {
  int64_t x, y, cx, cy, xs, ys;
};

// Clips the block to both rectangles (origins may be negative); false when
// nothing is left.
bool Clip(int64_t dw, int64_t dh, int64_t sw, int64_t sh, Blit *b) {
  if (b->x < 0) {
    b->xs -= b->x;
    b->cx += b->x;
    b->x = 0;
  }
  if (b->xs < 0) {
    b->x -= b->xs;
    b->cx += b->xs;
    b->xs = 0;
  }
  if (b->y < 0) {
    b->ys -= b->y;
    b->cy += b->y;
    b->y = 0;
  }
  if (b->ys < 0) {
    b->y -= b->ys;
    b->cy += b->ys;
    b->ys = 0;
  }
  if (b->cx > dw - b->x) b->cx = dw - b->x;
  if (b->cx > sw - b->xs) b->cx = sw - b->xs;
  if (b->cy > dh - b->y) b->cy = dh - b->y;
  if (b->cy > sh - b->ys) b->cy = sh - b->ys;
  return b->cx > 0 && b->cy > 0;
}

uint8_t *PixelAt(const Bitmap &bm, int64_t x, int64_t y) {
  return bm.TopRow() + y * bm.Pitch() + x * bm.format.BytesPerPixel();
}

// Same format: row copies, in an order that is safe when source and
// destination are the same bitmap.
void CopyRows(const Bitmap &dst, const Bitmap &src, const Blit &b) {
  const size_t rowBytes = size_t(b.cx) * dst.format.BytesPerPixel();
  const bool upward = &dst == &src && b.y > b.ys;
  for (int64_t i = 0; i < b.cy; ++i) {
    const int64_t r = upward ? b.cy - 1 - i : i;
    memmove(PixelAt(dst, b.x, b.y + r), PixelAt(src, b.xs, b.ys + r), rowBytes);
  }
}

bool FromBitmap(const Bitmap &dst, const Bitmap &src, Blit b) {
  const bool same = SameFormat(dst.format, src.format);
  Bgr24Converter conv;
  if (!same && (!SameFormat(dst.format, Bgr24Format()) ||
                !PrepareBgr24Converter(src.format, &conv)))
    return false;
  if (!Clip(dst.width, dst.height, src.width, src.height, &b)) return true;
  if (same) {
    CopyRows(dst, src, b);
  } else {
    ConvertToBgr24(conv, PixelAt(src, b.xs, b.ys), src.Pitch(),
                   PixelAt(dst, b.x, b.y), dst.Pitch(), int(b.cx), int(b.cy));
  }
  return true;
}

// From the frame the screen contexts show: its size and format, whatever
// the screen has become since.
bool FromScreen(const Bitmap &dst, Blit b) {
  const ScreenFrame *live = LiveScreenFrame();
  if (live == nullptr) return false;
  Display *display = live->display;
  const Frame &frame = live->frame;
  const PixelFormat &format = frame.format;
  const int64_t sw = frame.width, sh = frame.height;
  const bool same = SameFormat(dst.format, format);
  Bgr24Converter conv;
  if (!same && (!SameFormat(dst.format, Bgr24Format()) ||
                !PrepareBgr24Converter(format, &conv)))
    return false;
  if (!Clip(dst.width, dst.height, sw, sh, &b)) return true;
  if (ShouldFail(KTEST_OP_DISPLAY_READ)) return false;
  if (same) {
    return display->ReadPixels(frame, int(b.xs), int(b.ys), int(b.cx),
                               int(b.cy), PixelAt(dst, b.x, b.y), dst.Pitch());
  }
  const int64_t rowBytes = b.cx * format.BytesPerPixel();
  int64_t rows = kBandBytes / rowBytes;
  if (rows > kBandRows) rows = kBandRows;
  if (rows < 1) rows = 1;
  if (rows > b.cy) rows = b.cy;
  uint8_t *band = static_cast<uint8_t *>(malloc(size_t(rowBytes * rows)));
  if (band == nullptr) return false;
  bool ok = true;
  for (int64_t done = 0; ok && done < b.cy; done += rows) {
    const int64_t n = b.cy - done < rows ? b.cy - done : rows;
    ok = display->ReadPixels(frame, int(b.xs), int(b.ys + done), int(b.cx),
                             int(n), band, ptrdiff_t(rowBytes));
    if (ok) {
      ConvertToBgr24(conv, band, ptrdiff_t(rowBytes),
                     PixelAt(dst, b.x, b.y + done), dst.Pitch(), int(b.cx),
                     int(n));
    }
  }
  free(band);
  return ok;
}

}  // namespace
}  // namespace gdi
}  // namespace kplat

extern "C" BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc,
                              int x1, int y1, DWORD rop) {
  using kplat::gdi::BitmapKind;
  const kplat::gdi::DeviceContext *dst = kplat::gdi::LookupDC(hdc);
  const kplat::gdi::DeviceContext *src = kplat::gdi::LookupDC(hdcSrc);
  if (rop != SRCCOPY || cx < 0 || cy < 0 || dst == nullptr || src == nullptr ||
      dst->isScreen || dst->selected->kind == BitmapKind::kStock)
    return FALSE;
  const kplat::gdi::Blit b = {x, y, cx, cy, x1, y1};
  if (src->isScreen) return kplat::gdi::FromScreen(*dst->selected, b);
  if (src->selected->kind == BitmapKind::kStock) return FALSE;
  return kplat::gdi::FromBitmap(*dst->selected, *src->selected, b);
}
