// The in-process display a test installs with KTestInstallMemoryDisplay.
#pragma once

#include "display.h"

namespace kplat {

// The installed memory display, else NULL.
Display *InstalledMemoryDisplay();

}  // namespace kplat
