# Cross build for a Debian ARM architecture with Debian's cross compilers
# (crossbuild-essential-ARCH) and a sysroot made by scripts/cross-sysroot.sh:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/cross-toolchain.cmake
#         -DKESTREL_CROSS_ARCH=armhf|arm64 -DKESTREL_CROSS_SYSROOT=/path ...
# armhf is 32-bit ARM with hardware floating point, run under qemu-arm;
# arm64 is AArch64, run under qemu-aarch64. The emulator loads the
# program's libraries from the sysroot.
if(KESTREL_CROSS_ARCH STREQUAL "armhf")
  set(CMAKE_SYSTEM_PROCESSOR armv7l)
  set(kestrel_triplet arm-linux-gnueabihf)
  set(kestrel_loader lib/ld-linux-armhf.so.3)
  set(kestrel_qemu qemu-arm)
elseif(KESTREL_CROSS_ARCH STREQUAL "arm64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(kestrel_triplet aarch64-linux-gnu)
  set(kestrel_loader lib/ld-linux-aarch64.so.1)
  set(kestrel_qemu qemu-aarch64)
else()
  message(FATAL_ERROR "KESTREL_CROSS_ARCH must be armhf or arm64")
endif()
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_LIBRARY_ARCHITECTURE ${kestrel_triplet})

set(CMAKE_C_COMPILER ${kestrel_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${kestrel_triplet}-g++)

# try_compile projects read this file again and need both too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTREL_CROSS_ARCH KESTREL_CROSS_SYSROOT)
if(NOT KESTREL_CROSS_SYSROOT OR NOT EXISTS "${KESTREL_CROSS_SYSROOT}/${kestrel_loader}")
  message(FATAL_ERROR "KESTREL_CROSS_SYSROOT must name a ${KESTREL_CROSS_ARCH} sysroot made by scripts/cross-sysroot.sh")
endif()
set(CMAKE_SYSROOT "${KESTREL_CROSS_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH "${KESTREL_CROSS_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ENV{PKG_CONFIG_SYSROOT_DIR} "${KESTREL_CROSS_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${KESTREL_CROSS_SYSROOT}/usr/lib/${kestrel_triplet}/pkgconfig:${KESTREL_CROSS_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# No binfmt_misc is assumed: every ARM program is started through the
# emulator.
find_program(KESTREL_QEMU ${kestrel_qemu} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${KESTREL_QEMU};-L;${KESTREL_CROSS_SYSROOT}")
