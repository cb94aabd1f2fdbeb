# The module's loader: a static library, so that every link can put it after
# all objects (see platform/os/module_entry.cpp and kestrel_link_layers).
add_library(kplat_os STATIC platform/os/module_entry.cpp)
target_link_libraries(kplat_os PUBLIC kplat_internal ${CMAKE_DL_LIBS})
target_compile_options(kplat_os PRIVATE ${KESTREL_PLAIN_CXX})
