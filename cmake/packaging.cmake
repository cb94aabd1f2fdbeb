# Debian packages with CPack: `cpack -G DEB` in a build folder (or
# `cmake --build BUILD --target package`) writes
# BUILD/packages/kestrel_VERSION_ARCH.deb holding what cmake/install.cmake
# installs, under /usr: the library with its SONAME links, kestrel-snap,
# the header, kestrel.pc and the CMake package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kestrel developers <kestrel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Captures the whole screen to a PNG or JPEG file")
set(CPACK_PACKAGE_DESCRIPTION
    "A shared library with one C function, SnapShot(path, quality), and the command-line program kestrel-snap.")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_STRIP_FILES ON)
# A shlibs file, and the ldconfig trigger that comes with it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

# The architecture is the target's, not the machine's that builds it.
if(CMAKE_CROSSCOMPILING AND KESTREL_CROSS_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${KESTREL_CROSS_ARCH})
endif()

# What the objects link against, by Debian package. dpkg-shlibdeps cannot
# look into a cross sysroot, so the list is kept here for every build.
set(kestrel_deb_depends
  "libc6 (>= 2.34)" "libgcc-s1" "libstdc++6 (>= 12)"
  "libjpeg62-turbo (>= 1.3.1)" "libpng16-16 (>= 1.6.2)" "zlib1g")
foreach(pair "kplat_x11|libxcb1, libxcb-shm0" "kplat_drm|libdrm2"
             "kplat_wayland|libwayland-client0")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 layer)
  list(GET pair 1 packages)
  if(TARGET ${layer})
    list(APPEND kestrel_deb_depends "${packages}")
  endif()
endforeach()
list(JOIN kestrel_deb_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)

include(CPack)
