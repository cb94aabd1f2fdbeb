# The X server's root window, read through XCB with MIT-SHM when the server
# offers it; RandR tells Xwayland apart.
pkg_check_modules(KESTREL_XCB IMPORTED_TARGET GLOBAL xcb xcb-shm xcb-randr xau)
if(NOT KESTREL_XCB_FOUND)
  message(FATAL_ERROR "KESTREL_WITH_X11 needs XCB and Xau: apt-get install "
          "libxcb1-dev libxcb-shm0-dev libxcb-randr0-dev libxau-dev (or configure with -DKESTREL_WITH_X11=OFF)")
endif()

add_library(kplat_x11 OBJECT
  platform/x11/x11_connection.cpp
  platform/x11/x11_core_read.cpp
  platform/x11/x11_display.cpp
  platform/x11/x11_format.cpp
  platform/x11/x11_handshake.cpp
  platform/x11/x11_rows.cpp
  platform/x11/x11_shm.cpp
  platform/x11/x11_wait.cpp
  platform/x11/x11_xwayland.cpp)
target_link_libraries(kplat_x11 PUBLIC kplat_internal PkgConfig::KESTREL_XCB)
kestrel_add_backend(kplat_x11)
