// The platform's loader for the module this object is linked into (the
// shared library, or a test executable).
//
// It relies on link order: this object comes from a static library that
// every link names after all its objects (kestrel_link_layers), and static
// objects are constructed in link order and destroyed in reverse. So the attach
// below runs after every other static object of the module is built, at process
// start or dlopen, and the detach runs before any of them is destroyed, at exit
// or dlclose.
#include <dlfcn.h>
#include <link.h>

#include "afx/module_state.h"
#include "afxwin.h"

namespace {

class ModuleEntry {
 public:
  ModuleEntry() : m_hInstance(nullptr) {
    // Any address inside the module finds it; this object is one.
    Dl_info info;
    struct link_map *map = nullptr;
    if (dladdr1(this, &info, reinterpret_cast<void **>(&map),
                RTLD_DL_LINKMAP) != 0) {
      m_hInstance = static_cast<HINSTANCE>(info.dli_fbase);
      // The executable is the one object the dynamic linker keeps nameless.
      const bool executable =
          map != nullptr && map->l_name != nullptr && map->l_name[0] == '\0';
      AfxSetModuleFile(info.dli_fname, executable ? TRUE : FALSE);
    }
    DllMain(m_hInstance, DLL_PROCESS_ATTACH, nullptr);
  }

  ~ModuleEntry() { DllMain(m_hInstance, DLL_PROCESS_DETACH, nullptr); }

  ModuleEntry(const ModuleEntry &) = delete;
  ModuleEntry &operator=(const ModuleEntry &) = delete;

 private:
  HINSTANCE m_hInstance;
};

ModuleEntry g_moduleEntry;

}  // namespace
