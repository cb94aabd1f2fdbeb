# The device's C runtime, text conversion and application framework.
add_library(kplat_runtime OBJECT
  platform/crt/utf.cpp
  platform/crt/last_error.cpp
  platform/crt/multibyte.cpp
  platform/crt/wfopen.cpp
  platform/crt/file_stream.cpp
  platform/crt/interlocked.cpp
  platform/crt/process.cpp
  platform/afx/string.cpp
  platform/afx/string_format.cpp
  platform/afx/object.cpp
  platform/afx/app.cpp
  platform/afx/dc.cpp
  platform/afx/module_state.cpp
  platform/afx/dll_main.cpp)
target_link_libraries(kplat_runtime PUBLIC kplat_internal)
kestrel_add_layer(kplat_runtime)
