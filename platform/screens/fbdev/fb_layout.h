// What a framebuffer's screen information means for reading it: where the
// visible picture lies in the device's memory, the screen format it is
// presented in, and how rows are converted into that format.
#pragma once

#include <linux/fb.h>
#include <stdint.h>

#include "display.h"
#include "fb_rows.h"

namespace kplat {
namespace fbdev {

// The largest width or height taken.
constexpr uint32_t kMaxSide = 32767;

struct Geometry {
  uint32_t width;  // visible pixels
  uint32_t height;
  uint32_t bitsPerPixel;
  uint32_t lineLength;  // bytes from one row to the next
  uint64_t firstRow;    // byte offset of the first visible row
  uint32_t firstPixel;  // the first visible pixel within a row (xoffset)
  uint64_t end;         // bytes of device memory the visible area reaches
};

enum class Conversion {
  kCopy,      // device pixels are in the screen format already
  kUnpack,    // 1, 2 or 4 bits per pixel into 8-bit palette indices
  kChannels,  // 16, 24 or 32-bit pixels through a ChannelMap
};

struct Layout {
  Geometry geometry;
  Conversion conversion;
  PixelFormat format;   // the screen format presented
  ChannelMap channels;  // for kChannels
};

// The device's colour map, 16 bits a channel as the kernel keeps it.
struct ColourMap {
  uint16_t red[256];
  uint16_t green[256];
  uint16_t blue[256];
};

// Entries of the colour map the layout needs; 0 when it needs none.
uint32_t ColourMapLength(const fb_var_screeninfo &var,
                         const fb_fix_screeninfo &fix);

// The layout of a screen; false for one that cannot be read (unsupported
// type, visual or depth, or a visible area outside the device's memory).
// cmap holds ColourMapLength entries, or is NULL when that is 0.
bool Describe(const fb_var_screeninfo &var, const fb_fix_screeninfo &fix,
              const ColourMap *cmap, Layout *layout);

// Two layouts that read the same pixels the same way.
bool SameLayout(const Layout &a, const Layout &b);

}  // namespace fbdev
}  // namespace kplat
