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

// The size ceiling of a screen: its 24-bit copy (rows of width x 3 bytes
// rounded up to 4, times the height) takes at most INT32_MAX bytes.
bool FitsSizeCeiling(int64_t width, int64_t height);

// The 24-bit blue-green-red format of DIB sections.
const PixelFormat &Bgr24Format();

// A 16-bit colour map value (X's and the framebuffer's) rounded to 8 bits.
uint8_t Scale16To8(uint16_t value);

// One consistent view of the screen: what a screen device context shows
// from GetDC(NULL) to ReleaseDC. Size and format are taken once, when the
// frame begins, and every graphics call on that context uses them.
struct Frame {
  int width;
  int height;
  PixelFormat format;
};

// Screens live in static storage and are never deleted through this
// interface, so it has no virtual destructor: a screen object needs no
// construction or destruction at load or unload.
class Display {
 public:
  // Begins a frame: the screen's size and format now (a screen whose
  // pixels only come as a whole picture takes the picture here too). False
  // when the screen cannot be reached or shows nothing this platform reads;
  // nothing is then held.
  virtual bool BeginFrame(Frame *frame) = 0;

  // Copies the w x h rectangle at (x, y), which lies inside the frame, in
  // the frame's format into dst: row r of the rectangle (top-down) starts
  // at dst + r * dstStride (a negative stride fills a bottom-up buffer from
  // its last row). False when the pixels could not be read, or the screen
  // no longer matches the frame (its size or format changed since
  // BeginFrame); dst may then be partly written and must not be used.
  virtual bool ReadPixels(const Frame &frame, int x, int y, int w, int h,
                          uint8_t *dst, ptrdiff_t dstStride) = 0;

  // The frame is over: lets go of what BeginFrame holds for it.
  virtual void EndFrame() {}

  // Memory for the pixels of a w x h bitmap compatible with the frame's screen
  // with rows stride bytes apart, which ReadPixels can fill without copying;
  // NULL when the display has none to lend (the caller allocates its own). Lent
  // to one bitmap at a time, and valid until ReturnPixels even if the
  // display's connection is lost meanwhile.
  virtual uint8_t *LendPixels(const Frame &frame, int w, int h,
                              ptrdiff_t stride) {
    (void)frame;
    (void)w;
    (void)h;
    (void)stride;
    return nullptr;
  }
  virtual void ReturnPixels(uint8_t *pixels) { (void)pixels; }

 protected:
  ~Display() = default;
};

// One kind of screen this platform can serve (an X server, a Wayland
// compositor, ...): an entry of the registry (registry.cpp).
struct DisplayBackend {
  const char *name;
  // The screen this backend serves now, opened (or kept from an earlier
  // call) as needed; NULL when it cannot serve now, having kept nothing
  // new. Called at every GetDC(NULL) until one backend answers.
  Display *(*open)();
  // Lets go of everything open kept: connections, descriptors, mappings.
  // Called at unload for every backend, opened or not (then it does
  // nothing); open may be called again afterwards only in tests.
  void (*close)();
};

// The screen of this process for a new screen device context: a memory
// display a test installed, else the first backend of the registry that
// opens now, else none (NULL). Not thread-safe; the graphics calls are made
// by one caller at a time. Always NULL once the platform has shut down.
Display *CurrentDisplay();

// Closes every backend (tests, and the shutdown below).
void CloseDisplays();

// At unload: closes every backend, and from then on no screen is served,
// so a late call fails cleanly instead of reopening what was released.
void ShutDownDisplays();

}  // namespace kplat
