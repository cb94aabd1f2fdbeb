#pragma once

#include <windows.h>

// Copies the whole screen, at its current resolution, into a new bitmap in
// the screen's pixel format. The bitmap is selected into no context and
// belongs to the caller, who deletes it with DeleteObject. NULL when the
// screen could not be copied; nothing is left behind then.
HBITMAP GrabScreen();
