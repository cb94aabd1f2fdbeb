#include "dbus_calls.h"

#include <dlfcn.h>

namespace kplat {
namespace portal {
namespace {

DBusCalls g_calls;
enum class Loaded { kNotYet, kYes, kNo } g_loaded = Loaded::kNotYet;

bool Resolve(void *library) {
  bool ok = library != nullptr;
#define KESTREL_DBUS_RESOLVE(name)                                     \
  ok = ok && (g_calls.name = reinterpret_cast<decltype(g_calls.name)>( \
                  dlsym(library, "dbus_" #name))) != nullptr;
  KESTREL_DBUS_CALLS(KESTREL_DBUS_RESOLVE)
#undef KESTREL_DBUS_RESOLVE
  return ok;
}

}  // namespace

const DBusCalls *LoadDBus() {
  if (g_loaded == Loaded::kNotYet) {
    // Never closed: libdbus keeps process-wide state, and a host may have
    // loaded it too.
    void *library = dlopen("libdbus-1.so.3", RTLD_NOW | RTLD_LOCAL);
    g_loaded = Resolve(library) ? Loaded::kYes : Loaded::kNo;
  }
  return g_loaded == Loaded::kYes ? &g_calls : nullptr;
}

const DBusCalls &Dbus() { return g_calls; }

}  // namespace portal
}  // namespace kplat
