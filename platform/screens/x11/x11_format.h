// The pixel format of the root window, in the platform's terms.
#pragma once

#include <xcb/xcb.h>

#include "display.h"
#include "x11_connection.h"

namespace kplat {
namespace x11 {

// Whether ReadPixels can deliver this screen's pixels at all (truecolour or
// an 8-bit colormap the platform understands), judged from the setup alone.
bool LayoutSupported(const ScreenLayout &layout);

// The screen's format now; palettised screens read the default colormap, so
// this costs one round trip either way. False for formats the platform does
// not handle and when the server cannot be reached.
bool QueryFormat(xcb_connection_t *conn, const ScreenLayout &layout,
                 PixelFormat *format);

}  // namespace x11
}  // namespace kplat
