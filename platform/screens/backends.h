// The screens this platform can be built with, one folder each. Which of
// them are compiled in is the build's choice (KESTREL_WITH_* options).
#pragma once

#include "display.h"

namespace kplat {

extern const DisplayBackend kWaylandBackend;  // screens/wayland
extern const DisplayBackend kX11Backend;      // screens/x11
extern const DisplayBackend kDrmBackend;      // screens/drm
extern const DisplayBackend kFbdevBackend;    // screens/fbdev

// The X screen's way to the desktop when its server is Xwayland: the
// compositor, found without WAYLAND_DISPLAY as the only compositor socket of
// the calling user in XDG_RUNTIME_DIR (with WAYLAND_DISPLAY set, the Wayland
// screen was tried already). NULL when there is none, or more than one to
// choose from; without the Wayland screen in the build, always NULL.
Display *OpenCompositorBehindXwayland();

}  // namespace kplat
