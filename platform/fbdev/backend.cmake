# The Linux framebuffer device as a screen: no dependency beyond the
# kernel's headers.
add_library(kplat_fbdev OBJECT
  platform/fbdev/fb_rows.cpp
  platform/fbdev/fb_layout.cpp
  platform/fbdev/fbdev_display.cpp)
target_link_libraries(kplat_fbdev PUBLIC kplat_internal)
target_compile_definitions(kplat_fbdev PUBLIC _FILE_OFFSET_BITS=64)
kestrel_add_backend(kplat_fbdev)
