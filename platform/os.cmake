# The module's loader. Linked last, so its static object is built after all
# others (see platform/os/module_entry.cpp).
add_library(kplat_os OBJECT platform/os/module_entry.cpp)
target_link_libraries(kplat_os PRIVATE kplat_internal)
set_property(TARGET kplat_os PROPERTY KESTREL_LINK_DEPS "${CMAKE_DL_LIBS}")
