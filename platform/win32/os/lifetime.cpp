#include "lifetime.h"

#include <dlfcn.h>
#include <link.h>

#include "afxwin.h"
#include "display.h"
#include "gdi_objects.h"
#include "module_state.h"
#include "pixel_memory.h"

namespace kplat {

// A test binary may link the framework without the graphics calls or the
// screens: their steps are then absent (weak references, NULL). The shipped
// library has all of them.
void ShutDownDisplays() __attribute__((weak));
namespace gdi {
void ReleaseHandleTable() __attribute__((weak));
}  // namespace gdi

namespace {

HINSTANCE g_hInstance = nullptr;

}  // namespace

void StartUpModule(const void *address) {
  Dl_info info;
  struct link_map *map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void **>(&map),
              RTLD_DL_LINKMAP) != 0) {
    g_hInstance = static_cast<HINSTANCE>(info.dli_fbase);
    // The executable is the one object the dynamic linker keeps nameless.
    const bool executable =
        map != nullptr && map->l_name != nullptr && map->l_name[0] == '\0';
    AfxSetModuleFile(info.dli_fname, executable ? TRUE : FALSE);
  }
  DllMain(g_hInstance, DLL_PROCESS_ATTACH, nullptr);
}

void ShutDownModule() {
  DllMain(g_hInstance, DLL_PROCESS_DETACH, nullptr);
  // Screens first: a screen may hold pixel memory it lent to bitmaps.
  if (ShutDownDisplays != nullptr) ShutDownDisplays();
  gdi::StopKeepingPixels();
  if (gdi::ReleaseHandleTable != nullptr) gdi::ReleaseHandleTable();
  g_hInstance = nullptr;
}

}  // namespace kplat
