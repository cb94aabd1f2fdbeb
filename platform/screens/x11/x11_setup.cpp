#include "x11_setup.h"

#include <string.h>

namespace kplat {
namespace x11 {
namespace {

// Sizes of the setup's parts, and of a reply's head.
const size_t kSetupFixed = 40;  // the 8-byte head and the fixed fields
const size_t kFormatSize = 8;
const size_t kScreenSize = 40;
const size_t kDepthSize = 8;
const size_t kVisualSize = 24;
const size_t kReplyHead = 32;
const size_t kColorSize = 8;
const int kPaletteEntries = 256;

uint16_t Get16(const uint8_t *p) {
  uint16_t v;
  memcpy(&v, p, 2);
  return v;
}

uint32_t Get32(const uint8_t *p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

// Moves *at past n bytes when they lie within size.
bool Skip(size_t *at, size_t size, size_t n) {
  if (*at > size || n > size - *at) return false;
  *at += n;
  return true;
}

// Past one screen and all its depths and visuals; false when any runs past
// size.
bool SkipScreen(const uint8_t *r, size_t size, size_t *at) {
  const size_t screen = *at;
  if (!Skip(at, size, kScreenSize)) return false;
  for (int d = 0; d < r[screen + 39]; ++d) {
    const size_t depth = *at;
    if (!Skip(at, size, kDepthSize) ||
        !Skip(at, size, size_t(Get16(r + depth + 2)) * kVisualSize))
      return false;
  }
  return true;
}

// The root visual of the screen at offset screen, already known to lie
// within the setup; NULL when its depth does not list it.
const uint8_t *RootVisual(const uint8_t *r, size_t screen) {
  const uint8_t rootDepth = r[screen + 38];
  const uint32_t rootVisual = Get32(r + screen + 32);
  size_t at = screen + kScreenSize;
  for (int d = 0; d < r[screen + 39]; ++d) {
    const size_t visuals = Get16(r + at + 2);
    const bool ours = r[at] == rootDepth;
    at += kDepthSize;
    for (size_t v = 0; v < visuals; ++v, at += kVisualSize)
      if (ours && Get32(r + at) == rootVisual) return r + at;
  }
  return nullptr;
}

}  // namespace

bool ReadSetup(const uint8_t *r, size_t size, int screenNum,
               SetupFacts *facts) {
  if (r == nullptr || size < kSetupFixed || r[0] != 1 ||
      8 + size_t(Get16(r + 6)) * 4 != size || screenNum < 0)
    return false;
  size_t at = kSetupFixed;
  if (!Skip(&at, size, (size_t(Get16(r + 24)) + 3) / 4 * 4)) return false;
  const size_t formats = at;
  const int formatCount = r[29];
  if (!Skip(&at, size, size_t(formatCount) * kFormatSize)) return false;
  size_t screen = 0;
  for (int i = 0; i < r[28]; ++i) {
    if (i == screenNum) screen = at;
    if (!SkipScreen(r, size, &at)) return false;
  }
  if (screen == 0) return false;
  const uint8_t *visual = RootVisual(r, screen);
  const uint8_t depth = r[screen + 38];
  const uint8_t *format = nullptr;
  for (int f = 0; f < formatCount; ++f)
    if (r[formats + size_t(f) * kFormatSize] == depth)
      format = r + formats + size_t(f) * kFormatSize;
  if (visual == nullptr || format == nullptr || format[2] == 0) return false;
  ScreenLayout &l = facts->layout;
  l.root = Get32(r + screen);
  l.colormap = Get32(r + screen + 4);
  l.visualId = Get32(r + screen + 32);
  l.depth = depth;
  l.visualClass = visual[4];
  l.redMask = Get32(visual + 8);
  l.greenMask = Get32(visual + 12);
  l.blueMask = Get32(visual + 16);
  l.bitsPerPixel = format[1];
  l.scanlinePad = format[2];
  l.msbFirst = r[30] == XCB_IMAGE_ORDER_MSB_FIRST;
  facts->idBase = Get32(r + 12);
  facts->idMask = Get32(r + 16);
  return true;
}

size_t ReplySize(const void *reply) {
  return kReplyHead +
         size_t(Get32(static_cast<const uint8_t *>(reply) + 4)) * 4;
}

bool PaletteFromColors(const uint8_t *r, size_t size, PixelFormat *format) {
  // The count at offset 8, the entries (red, green, blue, pad: 16 bits
  // each) after the head.
  if (size < kReplyHead || Get16(r + 8) != kPaletteEntries ||
      (size - kReplyHead) / kColorSize < size_t(kPaletteEntries))
    return false;
  memset(format, 0, sizeof(*format));
  format->bitsPerPixel = 8;
  const uint8_t *c = r + kReplyHead;
  for (int i = 0; i < kPaletteEntries; ++i, c += kColorSize) {
    format->palette[i].rgbRed = Scale16To8(Get16(c));
    format->palette[i].rgbGreen = Scale16To8(Get16(c + 2));
    format->palette[i].rgbBlue = Scale16To8(Get16(c + 4));
  }
  return true;
}

}  // namespace x11
}  // namespace kplat
