# Cross build for 32-bit ARM with hardware floating point (Debian armhf),
# with Debian's cross compilers (crossbuild-essential-armhf) and a sysroot
# made by scripts/armhf-sysroot.sh:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake
#         -DKESTREL_ARMHF_SYSROOT=/path/to/sysroot ...
# Tests run under qemu-arm, which loads the program's libraries from the
# sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# try_compile projects read this file again and need the sysroot too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTREL_ARMHF_SYSROOT)
if(NOT KESTREL_ARMHF_SYSROOT OR NOT EXISTS "${KESTREL_ARMHF_SYSROOT}/lib/ld-linux-armhf.so.3")
  message(FATAL_ERROR "KESTREL_ARMHF_SYSROOT must name a sysroot made by scripts/armhf-sysroot.sh")
endif()
set(CMAKE_SYSROOT "${KESTREL_ARMHF_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH "${KESTREL_ARMHF_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ENV{PKG_CONFIG_SYSROOT_DIR} "${KESTREL_ARMHF_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${KESTREL_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${KESTREL_ARMHF_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# No binfmt_misc is assumed: every ARM program is started through qemu-arm.
find_program(KESTREL_QEMU_ARM qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${KESTREL_QEMU_ARM};-L;${KESTREL_ARMHF_SYSROOT}")
