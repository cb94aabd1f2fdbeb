// The registry of screens: which backend serves GetDC(NULL), and the close
// of every opened backend at unload.
#include <stddef.h>

#include "backends.h"
#include "hook.h"

namespace kplat {
namespace {

// Tried in this order at every GetDC(NULL): a desktop session's own screen
// first, the bare hardware last. A backend that cannot serve now (its
// variable is unset, nothing answers, no permission) leaves the turn to the
// next one.
const DisplayBackend *const kBackends[] = {
#if KESTREL_WITH_WAYLAND
    &kWaylandBackend,
#endif
#if KESTREL_WITH_X11
    &kX11Backend,
#endif
#if KESTREL_WITH_DRM
    &kDrmBackend,
#endif
#if KESTREL_WITH_FBDEV
    &kFbdevBackend,
#endif
    nullptr,  // keeps the table valid when no backend is built
};
const size_t kBackendCount = sizeof(kBackends) / sizeof(kBackends[0]) - 1;

bool g_shutDown = false;

}  // namespace

#if !KESTREL_WITH_WAYLAND
Display *OpenCompositorBehindXwayland() { return nullptr; }
#endif

Display *CurrentDisplay() {
  if (g_shutDown) return nullptr;
  Display *memory = InstalledTestScreen();
  if (memory != nullptr) return memory;
  for (size_t i = 0; i < kBackendCount; ++i) {
    Display *display = kBackends[i]->open();
    if (display != nullptr) return display;
  }
  return nullptr;
}

// A backend that holds nothing makes its close a no-op, so every one is
// asked, opened through here or not.
void CloseDisplays() {
  for (size_t i = 0; i < kBackendCount; ++i) kBackends[i]->close();
}

void ShutDownDisplays() {
  g_shutDown = true;
  CloseDisplays();
}

}  // namespace kplat
