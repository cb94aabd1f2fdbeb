#include "x11_format.h"

#include <stdlib.h>
#include <string.h>

#include "x11_setup.h"
#include "x11_wait.h"

namespace kplat {
namespace x11 {
namespace {

bool IsColormapped8(const ScreenLayout &layout) {
  return layout.depth == 8 && layout.bitsPerPixel == 8 &&
         (layout.visualClass == XCB_VISUAL_CLASS_PSEUDO_COLOR ||
          layout.visualClass == XCB_VISUAL_CLASS_GRAY_SCALE ||
          layout.visualClass == XCB_VISUAL_CLASS_STATIC_GRAY);
}

bool TrueColorFormat(const ScreenLayout &layout, PixelFormat *format) {
  if (layout.visualClass != XCB_VISUAL_CLASS_TRUE_COLOR) return false;
  switch (layout.depth) {
    case 15:
    case 16:
      if (layout.bitsPerPixel != 16) return false;
      break;
    case 24:
      if (layout.bitsPerPixel != 24 && layout.bitsPerPixel != 32) return false;
      break;
    case 30:
      if (layout.bitsPerPixel != 32) return false;
      break;
    default:
      return false;
  }
  memset(format, 0, sizeof(*format));
  format->bitsPerPixel = layout.bitsPerPixel;
  format->redMask = layout.redMask;
  format->greenMask = layout.greenMask;
  format->blueMask = layout.blueMask;
  return IsSupportedFormat(*format);
}

bool ReadColormap(xcb_connection_t *conn, const ScreenLayout &layout,
                  PixelFormat *format) {
  uint32_t pixels[256];
  for (uint32_t i = 0; i < 256; ++i) pixels[i] = i;
  xcb_query_colors_reply_t *reply = ReplyWithin<xcb_query_colors_reply_t>(
      conn, xcb_query_colors(conn, layout.colormap, 256, pixels));
  if (!reply) return false;
  const bool complete = PaletteFromColors(
      reinterpret_cast<const uint8_t *>(reply), ReplySize(reply), format);
  free(reply);
  return complete;
}

}  // namespace

bool LayoutSupported(const ScreenLayout &layout) {
  PixelFormat format;
  return IsColormapped8(layout) || TrueColorFormat(layout, &format);
}

bool QueryFormat(xcb_connection_t *conn, const ScreenLayout &layout,
                 PixelFormat *format) {
  if (IsColormapped8(layout)) return ReadColormap(conn, layout, format);
  PixelFormat truecolor;
  if (!TrueColorFormat(layout, &truecolor)) return false;
  // The format itself comes from the setup; the round trip tells whether the
  // server is still there.
  xcb_get_geometry_reply_t *geometry = ReplyWithin<xcb_get_geometry_reply_t>(
      conn, xcb_get_geometry(conn, layout.root));
  if (!geometry) return false;
  free(geometry);
  *format = truecolor;
  return true;
}

}  // namespace x11
}  // namespace kplat
