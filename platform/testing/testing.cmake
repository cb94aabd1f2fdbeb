# The test machinery: fault injection, the heap and close hooks, object
# accounting and the memory display. Linked into test binaries only; it
# installs itself into the platform's seam before main.
add_library(kestrel_testing OBJECT
  ${PROJECT_SOURCE_DIR}/platform/testing/faults.cpp
  ${PROJECT_SOURCE_DIR}/platform/testing/crt_hooks.cpp
  ${PROJECT_SOURCE_DIR}/platform/testing/memory_display.cpp)
target_link_libraries(kestrel_testing PUBLIC kplat_internal)
target_include_directories(kestrel_testing PUBLIC ${PROJECT_SOURCE_DIR}/platform)
# The library's own malloc and fclose calls land in crt_hooks.cpp; libjpeg,
# libpng and zlib keep the system's.
target_link_options(kestrel_testing INTERFACE -Wl,--wrap=malloc -Wl,--wrap=fclose)
