// The module's packing before the platform took it over, for comparison.
#pragma once

#include "capture/packing.h"

// portable: the word-wide routines only (no SSSE3), as the module's plain
// C++ would be.
void PackSurfaceBefore(const CDibSurface &surface, BYTE *pPacked,
                       PackOrder order, bool portable);
