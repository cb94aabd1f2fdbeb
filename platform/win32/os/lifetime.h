// The module's start-up and shutdown, each one sequence written here and
// nowhere else. No other platform object has a static constructor or
// destructor that does work, so nothing depends on the order in which the
// runtime builds or destroys them.
#pragma once

namespace kplat {

// At load, after every static object of the module is built: names the
// module from the file that holds address, then attaches the framework
// (DllMain), which starts the application object.
void StartUpModule(const void *address);

// At unload, before any static object of the module is destroyed: detaches
// the framework, then closes every screen (a later call gets none), then
// gives back kept pixel memory, then the handle table.
void ShutDownModule();

}  // namespace kplat
