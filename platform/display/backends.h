// The screens this platform can be built with, one folder each. Which of
// them are compiled in is the build's choice (KESTREL_WITH_* options).
#pragma once

#include "display.h"

namespace kplat {

extern const DisplayBackend kWaylandBackend;  // platform/wayland
extern const DisplayBackend kX11Backend;      // platform/x11
extern const DisplayBackend kDrmBackend;      // platform/drm
extern const DisplayBackend kFbdevBackend;    // platform/fbdev

}  // namespace kplat
