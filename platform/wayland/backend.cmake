# The Wayland screen: wlroots screencopy through libwayland-client, or the
# desktop portal's Screenshot over D-Bus where the compositor has no
# screencopy. A missing dependency stops the configure step, naming the
# Debian package.
pkg_check_modules(KESTREL_WAYLAND IMPORTED_TARGET GLOBAL wayland-client)
if(NOT KESTREL_WAYLAND_FOUND)
  message(FATAL_ERROR "KESTREL_WITH_WAYLAND needs libwayland-client: apt-get install libwayland-dev (or -DKESTREL_WITH_WAYLAND=OFF)")
endif()
pkg_check_modules(KESTREL_DBUS IMPORTED_TARGET GLOBAL dbus-1)
if(NOT KESTREL_DBUS_FOUND)
  message(FATAL_ERROR "KESTREL_WITH_WAYLAND needs libdbus-1: apt-get install libdbus-1-dev (or -DKESTREL_WITH_WAYLAND=OFF)")
endif()
pkg_get_variable(KESTREL_WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
if(NOT KESTREL_WAYLAND_PROTOCOLS_DIR)
  message(FATAL_ERROR "KESTREL_WITH_WAYLAND needs wayland-protocols: apt-get install wayland-protocols (or -DKESTREL_WITH_WAYLAND=OFF)")
endif()
find_program(KESTREL_WAYLAND_SCANNER wayland-scanner)
if(NOT KESTREL_WAYLAND_SCANNER)
  message(FATAL_ERROR "KESTREL_WITH_WAYLAND needs wayland-scanner: apt-get install libwayland-bin (or -DKESTREL_WITH_WAYLAND=OFF)")
endif()

# The wlroots protocols come from a Debian package fetched into the build
# folder (scripts/wayland-protocols.sh keeps one unpacked copy per version).
execute_process(
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/wayland-protocols.sh
          ${PROJECT_BINARY_DIR}/deb-cache
  OUTPUT_VARIABLE KESTREL_WLR_PROTOCOLS_DIR
  OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE wlr_result
  ERROR_VARIABLE wlr_error)
if(NOT wlr_result EQUAL 0)
  message(FATAL_ERROR "KESTREL_WITH_WAYLAND needs the wlroots protocol files from librust-wayland-protocols-dev: ${wlr_error}")
endif()

set(KESTREL_WAYLAND_GENERATED ${PROJECT_BINARY_DIR}/wayland-generated)
file(MAKE_DIRECTORY ${KESTREL_WAYLAND_GENERATED})

# kestrel_wayland_protocol(out_var xml): client header and glue code for one
# protocol, generated at build time; out_var gets the files to compile.
function(kestrel_wayland_protocol out_var xml)
  get_filename_component(base ${xml} NAME_WE)
  set(header ${KESTREL_WAYLAND_GENERATED}/${base}-client-protocol.h)
  set(code ${KESTREL_WAYLAND_GENERATED}/${base}-protocol.c)
  add_custom_command(OUTPUT ${header}
    COMMAND ${KESTREL_WAYLAND_SCANNER} client-header ${xml} ${header}
    DEPENDS ${xml} VERBATIM)
  add_custom_command(OUTPUT ${code}
    COMMAND ${KESTREL_WAYLAND_SCANNER} private-code ${xml} ${code}
    DEPENDS ${xml} VERBATIM)
  set(${out_var} ${header} ${code} PARENT_SCOPE)
endfunction()

kestrel_wayland_protocol(wl_xdg_output
  ${KESTREL_WAYLAND_PROTOCOLS_DIR}/unstable/xdg-output/xdg-output-unstable-v1.xml)
kestrel_wayland_protocol(wl_screencopy
  ${KESTREL_WLR_PROTOCOLS_DIR}/wlr-screencopy-unstable-v1.xml)

add_library(kplat_wayland OBJECT
  ${wl_xdg_output} ${wl_screencopy}
  platform/wayland/wl_compose.cpp
  platform/wayland/wl_formats.cpp
  platform/wayland/wl_picture.cpp
  platform/wayland/wl_own_socket.cpp
  platform/wayland/wl_session.cpp
  platform/wayland/wl_shm_buffer.cpp
  platform/wayland/wl_wait.cpp
  platform/wayland/screencopy_capture.cpp
  platform/wayland/bus_connection.cpp
  platform/wayland/dbus_calls.cpp
  platform/wayland/portal_file.cpp
  platform/wayland/portal_screenshot.cpp
  platform/wayland/png_picture.cpp
  platform/wayland/wayland_display.cpp)
target_include_directories(kplat_wayland PUBLIC ${KESTREL_WAYLAND_GENERATED})
# libdbus is loaded when the portal is first needed (dbus_calls.cpp): its
# headers only, and the dynamic loader.
target_include_directories(kplat_wayland PUBLIC ${KESTREL_DBUS_INCLUDE_DIRS})
target_link_libraries(kplat_wayland PUBLIC kplat_internal
  PkgConfig::KESTREL_WAYLAND PNG::PNG ${CMAKE_DL_LIBS})
kestrel_add_backend(kplat_wayland)
