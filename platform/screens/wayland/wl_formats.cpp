#include "wl_formats.h"

#include <wayland-client-protocol.h>

#include "fourcc_format.h"

namespace kplat {
namespace wl {
// wl_shm's codes are the DRM ones, but for the two it defined first.
bool ShmFormat(uint32_t code, PixelFormat *format) {
  if (code == WL_SHM_FORMAT_ARGB8888) code = Fourcc('A', 'R', '2', '4');
  if (code == WL_SHM_FORMAT_XRGB8888) code = Fourcc('X', 'R', '2', '4');
  return FormatFromFourcc(code, format);
}

}  // namespace wl
}  // namespace kplat
