# Host programs built on the shared library.
add_executable(kestrel-snap tools/kestrel-snap.c tools/snap_output.c)
target_link_libraries(kestrel-snap PRIVATE Kestrel)

# Draws a demo scene on a bare X server for the quick start.
add_executable(kestrel-demo-scene tools/kestrel-demo-scene.c)
target_link_libraries(kestrel-demo-scene PRIVATE PkgConfig::KESTREL_XCB)

# Installed next to the library's directory, it finds the library there.
set_target_properties(kestrel-snap PROPERTIES
  INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
