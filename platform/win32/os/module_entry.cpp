// The platform's loader for the module this object is linked into (the
// shared library, or a test executable).
//
// It relies on link order: this object comes from a static library that
// every link names after all its objects (kestrel_link_layers), and static
// objects are constructed in link order and destroyed in reverse. So the
// start-up runs after every other static object of the module is built, at
// process start or dlopen, and the shutdown runs before any of them is
// destroyed, at exit or dlclose. What each does is in lifetime.cpp.
#include "lifetime.h"

namespace {

struct ModuleEntry {
  // Any address inside the module finds it; this object is one.
  ModuleEntry() { kplat::StartUpModule(this); }
  ~ModuleEntry() { kplat::ShutDownModule(); }
} g_moduleEntry;

}  // namespace
