// The Wayland screen's entry for the display registry.
#pragma once

#include "display.h"

namespace kplat {

extern const DisplayBackend kWaylandBackend;

}  // namespace kplat
