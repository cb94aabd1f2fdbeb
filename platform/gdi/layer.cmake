# Graphics calls over the screen the registry picks.
add_library(kplat_gdi OBJECT
  platform/gdi/handle_registry.cpp
  platform/gdi/screen_frame.cpp
  platform/gdi/device_context.cpp
  platform/gdi/pixel_memory.cpp
  platform/gdi/bitmap.cpp
  platform/gdi/bitblt.cpp
  platform/gdi/pixel_convert.cpp
  platform/gdi/convert_rows_plain.cpp
  platform/gdi/convert_rows_block.cpp
  platform/gdi/convert_rows_ssse3.cpp)
target_link_libraries(kplat_gdi PUBLIC kplat_internal)
kestrel_add_layer(kplat_gdi)
