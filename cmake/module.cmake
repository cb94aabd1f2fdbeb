# The module: the capture entry, the surface and the writers. It sees only
# the platform's Win32-style headers, its own headers and the encoders'.
add_library(kestrel_module OBJECT
  capture/module_state.cpp
  capture/snapshot_app.cpp
  capture/status_text.cpp
  capture/packing.cpp
  capture/snapshot.cpp
  surface/dib_surface.cpp
  surface/grab_screen.cpp
  writers/jpeg_writer.cpp
  writers/png_writer.cpp)
target_include_directories(kestrel_module PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(kestrel_module PRIVATE KESTREL_BUILDING_LIBRARY)
target_link_libraries(kestrel_module PUBLIC kestrel_win32_headers JPEG::JPEG
                      PNG::PNG ZLIB::ZLIB)
kestrel_add_layer(kestrel_module)
