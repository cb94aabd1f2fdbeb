# Graphics calls over the screen the registry picks.
add_library(kplat_gdi OBJECT
  platform/gdi/handle_registry.cpp
  platform/gdi/screen_frame.cpp
  platform/gdi/device_context.cpp
  platform/gdi/pixel_memory.cpp
  platform/gdi/bitmap.cpp
  platform/gdi/bitblt.cpp
  platform/gdi/pixel_convert.cpp
  platform/gdi/copy_pixels.cpp
  platform/gdi/convert_rows_plain.cpp
  platform/gdi/convert_rows_block.cpp
  platform/gdi/convert_rows_ssse3.cpp
  platform/gdi/convert_rows_neon.cpp)
target_link_libraries(kplat_gdi PUBLIC kplat_internal)
kestrel_add_layer(kplat_gdi)
# 32-bit ARM does not promise NEON: only the file whose routines are chosen
# after asking the kernel is built with it. AArch64 (CMAKE_SYSTEM_PROCESSOR
# aarch64 or arm64) always has it and takes no flag; its compiler has no
# -mfpu.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(arm|ARM)" AND NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(arm64|ARM64)")
  set_source_files_properties(platform/gdi/convert_rows_neon.cpp
    PROPERTIES COMPILE_OPTIONS "-mfpu=neon")
endif()
