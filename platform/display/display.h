// The screen behind GetDC(NULL), as the platform's graphics calls see it.
// Internal to the platform layer: the module never includes this.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "wingdi.h"

namespace kplat {

// How one pixel of a screen (or of a screen-compatible bitmap) is stored.
// Pixels are little-endian integers of bitsPerPixel bits (24-bit pixels are
// three bytes, lowest first). Truecolour formats name their channels by
// mask; a format whose masks are all 0 is palettised (8 bits per pixel, an
// index into palette).
struct PixelFormat {
  int bitsPerPixel;
  uint32_t redMask;
  uint32_t greenMask;
  uint32_t blueMask;
  RGBQUAD palette[256];

  bool IsPalettised() const {
    return redMask == 0 && greenMask == 0 && blueMask == 0;
  }
  int BytesPerPixel() const { return (bitsPerPixel + 7) / 8; }
};

// A supported screen format: 8-bit palettised, 16 bits with channels of 5 or
// 6 bits (5-5-5 in 15 bits or 5-6-5), 24 bits, or 32 bits with 8- or 10-bit
// channels. Masks must be contiguous and not overlap.
bool IsSupportedFormat(const PixelFormat &format);

// Two formats that store pixels identically (same size, masks and, when
// palettised, palette).
bool SameFormat(const PixelFormat &a, const PixelFormat &b);

// The 24-bit blue-green-red format of DIB sections.
const PixelFormat &Bgr24Format();

// One consistent view of the screen: what a screen device context shows
// from GetDC(NULL) to ReleaseDC. Size and format are taken once, when the
// frame begins, and every graphics call on that context uses them.
struct Frame {
  int width;
  int height;
  PixelFormat format;
};

class Display {
 public:
  virtual ~Display() = default;

  // The screen's current size in pixels; false when the screen cannot be
  // reached. Asked afresh by every caller that needs it.
  virtual bool GetSize(int *width, int *height) = 0;

  // The screen's current pixel format; false when the screen cannot be
  // reached.
  virtual bool GetFormat(PixelFormat *format) = 0;

  // Copies the w x h rectangle at (x, y), which lies inside the screen, in
  // the screen's own format into dst: row r of the rectangle (top-down)
  // starts at dst + r * dstStride (a negative stride fills a bottom-up
  // buffer from its last row). False when the pixels could not be read, or
  // the format changed since GetFormat; dst may then be partly written.
  virtual bool ReadPixels(int x, int y, int w, int h, uint8_t *dst,
                          ptrdiff_t dstStride) = 0;

  // Memory for the pixels of a w x h screen-compatible bitmap with rows
  // stride bytes apart, which ReadPixels can fill without copying; NULL
  // when the display has none to lend (the caller allocates its own). Lent
  // to one bitmap at a time, and valid until ReturnPixels even if the
  // display's connection is lost meanwhile.
  virtual uint8_t *LendPixels(int w, int h, ptrdiff_t stride) {
    (void)w;
    (void)h;
    (void)stride;
    return nullptr;
  }
  virtual void ReturnPixels(uint8_t *pixels) { (void)pixels; }
};

// The screen of this process: a memory display a test installed, else the
// system's display (the X server), else none (NULL). Not thread-safe; the
// graphics calls are made by one caller at a time.
Display *CurrentDisplay();

// The system's display, opened on first use; NULL when there is none to be
// had now. A later call tries again.
Display *SystemDisplay();

// Drops the system display's connection, if any (at unload).
void CloseSystemDisplay();

}  // namespace kplat
