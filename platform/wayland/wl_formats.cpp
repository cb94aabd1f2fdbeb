#include "wl_formats.h"

#include <string.h>
#include <wayland-client-protocol.h>

namespace kplat {
namespace wl {
namespace {

struct Known {
  uint32_t code;
  int bitsPerPixel;
  uint32_t red, green, blue;
};

// Little-endian pixels, as wl_shm (and DRM) formats are defined.
const Known kKnown[] = {
    {WL_SHM_FORMAT_XRGB8888, 32, 0xff0000, 0xff00, 0xff},
    {WL_SHM_FORMAT_ARGB8888, 32, 0xff0000, 0xff00, 0xff},
    {WL_SHM_FORMAT_XBGR8888, 32, 0xff, 0xff00, 0xff0000},
    {WL_SHM_FORMAT_ABGR8888, 32, 0xff, 0xff00, 0xff0000},
    {WL_SHM_FORMAT_RGB565, 16, 0xf800, 0x07e0, 0x001f},
    {WL_SHM_FORMAT_XRGB2101010, 32, 0x3ff00000, 0xffc00, 0x3ff},
    {WL_SHM_FORMAT_ARGB2101010, 32, 0x3ff00000, 0xffc00, 0x3ff},
    {WL_SHM_FORMAT_XBGR2101010, 32, 0x3ff, 0xffc00, 0x3ff00000},
    {WL_SHM_FORMAT_ABGR2101010, 32, 0x3ff, 0xffc00, 0x3ff00000},
    {WL_SHM_FORMAT_RGB888, 24, 0xff0000, 0xff00, 0xff},
    {WL_SHM_FORMAT_BGR888, 24, 0xff, 0xff00, 0xff0000},
};

}  // namespace

bool ShmFormat(uint32_t code, PixelFormat *format) {
  for (const Known &known : kKnown) {
    if (known.code != code) continue;
    memset(format, 0, sizeof *format);
    format->bitsPerPixel = known.bitsPerPixel;
    format->redMask = known.red;
    format->greenMask = known.green;
    format->blueMask = known.blue;
    return true;
  }
  return false;
}

}  // namespace wl
}  // namespace kplat
