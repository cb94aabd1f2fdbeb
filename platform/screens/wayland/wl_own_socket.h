// The compositor of the calling user's session when nothing names it: a
// process that reached the desktop through Xwayland (DISPLAY alone) still
// finds the compositor's socket in its runtime folder.
#pragma once

#include <stddef.h>

namespace kplat {
namespace wl {

// Writes to name (size bytes) the name of the one socket in XDG_RUNTIME_DIR
// called wayland-<number> and owned by the calling user. False when there
// is none, or more than one: the wrong desktop would be a wrong picture,
// and WAYLAND_DISPLAY is there to choose.
bool FindOwnCompositorSocket(char *name, size_t size);

}  // namespace wl
}  // namespace kplat
