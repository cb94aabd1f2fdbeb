// The screens this platform can be built with, one folder each. Which of
// them are compiled in is the build's choice (KESTREL_WITH_* options).
#pragma once

#include "display.h"

namespace kplat {

extern const DisplayBackend kWaylandBackend;  // screens/wayland
extern const DisplayBackend kX11Backend;      // screens/x11
extern const DisplayBackend kDrmBackend;      // screens/drm
extern const DisplayBackend kFbdevBackend;    // screens/fbdev

}  // namespace kplat
