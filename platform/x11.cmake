# The system display: the X server's root window, read through XCB with
# MIT-SHM when the server offers it.
pkg_check_modules(KESTREL_XCB REQUIRED IMPORTED_TARGET GLOBAL xcb xcb-shm xau)

add_library(kplat_x11 OBJECT
  platform/x11/x11_connection.cpp
  platform/x11/x11_core_read.cpp
  platform/x11/x11_display.cpp
  platform/x11/x11_format.cpp
  platform/x11/x11_handshake.cpp
  platform/x11/x11_rows.cpp
  platform/x11/x11_shm.cpp
  platform/x11/x11_wait.cpp)
target_link_libraries(kplat_x11 PRIVATE kplat_internal PkgConfig::KESTREL_XCB)
set_property(TARGET kplat_x11 PROPERTY KESTREL_LINK_DEPS PkgConfig::KESTREL_XCB)
