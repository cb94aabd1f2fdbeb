# The DRM/KMS scanout as a screen, through libdrm. A missing dependency
# stops the configure step, naming the Debian package.
pkg_check_modules(KESTREL_DRM IMPORTED_TARGET GLOBAL libdrm)
if(NOT KESTREL_DRM_FOUND)
  message(FATAL_ERROR "KESTREL_WITH_DRM needs libdrm: apt-get install libdrm-dev (or -DKESTREL_WITH_DRM=OFF)")
endif()
add_library(kplat_drm OBJECT
  platform/drm/drm_calls.cpp
  platform/drm/drm_format.cpp
  platform/drm/drm_scanout.cpp
  platform/drm/drm_display.cpp)
target_link_libraries(kplat_drm PUBLIC kplat_internal PkgConfig::KESTREL_DRM)
target_compile_definitions(kplat_drm PUBLIC _FILE_OFFSET_BITS=64)
kestrel_add_backend(kplat_drm)
