# cmake --install: the shared library with its SONAME links, the public
# header, a pkg-config file, a CMake package (Kestrel::Kestrel) and
# kestrel-snap.
include(CMakePackageConfigHelpers)

set(KESTREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrel)

install(TARGETS Kestrel EXPORT KestrelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/kestrel/kestrel.h
  ${PROJECT_BINARY_DIR}/include/kestrel/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrel)
install(EXPORT KestrelTargets NAMESPACE Kestrel::
  DESTINATION ${KESTREL_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KestrelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KestrelConfig.cmake
  INSTALL_DESTINATION ${KESTREL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestrelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestrelConfig.cmake
  ${PROJECT_BINARY_DIR}/KestrelConfigVersion.cmake
  DESTINATION ${KESTREL_CMAKE_DIR})

# The .pc file finds its prefix from where it lies, so an install with
# --prefix elsewhere than the configured one still works.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(KESTREL_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
  set(KESTREL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  set(KESTREL_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  file(RELATIVE_PATH KESTREL_PC_UP "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig"
       "/root")
  set(KESTREL_PC_PREFIX "\${pcfiledir}/${KESTREL_PC_UP}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(KESTREL_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(KESTREL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/kestrel.pc.in
  ${PROJECT_BINARY_DIR}/kestrel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kestrel.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET kestrel-snap)
  install(TARGETS kestrel-snap RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/kestrel-snap.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
