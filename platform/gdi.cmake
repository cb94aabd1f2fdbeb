# Graphics calls over the current display, and the memory display for tests.
add_library(kplat_gdi OBJECT
  platform/gdi/handle_registry.cpp
  platform/gdi/device_context.cpp
  platform/gdi/bitmap.cpp
  platform/gdi/bitblt.cpp
  platform/gdi/pixel_convert.cpp
  platform/gdi/convert_rows_plain.cpp
  platform/gdi/convert_rows_block.cpp
  platform/gdi/convert_rows_ssse3.cpp
  platform/display/display.cpp
  platform/display/memory_display.cpp)
target_link_libraries(kplat_gdi PRIVATE kplat_internal)
set_property(TARGET kplat_gdi PROPERTY KESTREL_LINK_DEPS "")
