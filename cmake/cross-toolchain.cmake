# Cross-compiling for a box: Debian's cross toolchain for the box's architecture,
# with its own C library under /usr/<triplet>, and the target's FreeType, libpng,
# zlib, brotli, uchardet and GoogleTest unpacked into a sysroot by
# scripts/cross-sysroot.sh.
#
#   cmake -S . -B build-armhf -DLUMETRA_CROSS_ARCH=armhf \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/cross-toolchain.cmake
#
# LUMETRA_CROSS_ARCH: mipsel (32-bit little-endian MIPS), armhf (ARMv7 hard-float)
# or aarch64. The sysroot is BUILD_DIR/sysroot unless LUMETRA_CROSS_SYSROOT names
# another. Programs built here run under qemu-user, named as the emulator since
# the host need not have a binfmt handler for the target.

# This file is read again for every try_compile, where CMAKE_BINARY_DIR is a
# scratch directory and the cache is not there: the first reading passes the
# architecture and the sysroot on through the environment.
foreach(_var LUMETRA_CROSS_ARCH LUMETRA_CROSS_SYSROOT)
  if(NOT ${_var} AND DEFINED ENV{${_var}})
    set(${_var} "$ENV{${_var}}")
  endif()
endforeach()
if(NOT LUMETRA_CROSS_ARCH)
  message(FATAL_ERROR "cross-toolchain.cmake needs LUMETRA_CROSS_ARCH: mipsel, armhf or aarch64")
endif()

set(CMAKE_SYSTEM_NAME Linux)
if(LUMETRA_CROSS_ARCH STREQUAL "mipsel")
  set(CMAKE_SYSTEM_PROCESSOR mipsel)
  set(LUMETRA_CROSS_TRIPLET mipsel-linux-gnu)
  set(_lumetra_qemu qemu-mipsel)
elseif(LUMETRA_CROSS_ARCH STREQUAL "armhf")
  # Debian's armhf baseline: ARMv7-A, Thumb-2, VFPv3-D16, no NEON; every ARMv7
  # box chip (Cortex-A7, A9, A15, A53 in 32-bit mode) has at least that.
  set(CMAKE_SYSTEM_PROCESSOR armv7l)
  set(LUMETRA_CROSS_TRIPLET arm-linux-gnueabihf)
  set(_lumetra_qemu qemu-arm)
elseif(LUMETRA_CROSS_ARCH STREQUAL "aarch64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(LUMETRA_CROSS_TRIPLET aarch64-linux-gnu)
  set(_lumetra_qemu qemu-aarch64)
else()
  message(FATAL_ERROR "Unknown LUMETRA_CROSS_ARCH '${LUMETRA_CROSS_ARCH}': mipsel, armhf or aarch64")
endif()
set(CMAKE_LIBRARY_ARCHITECTURE ${LUMETRA_CROSS_TRIPLET})

set(CMAKE_C_COMPILER ${LUMETRA_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${LUMETRA_CROSS_TRIPLET}-g++)

# The flags are set, not appended to: CMake reads this file more than once in one scope.
set(_lumetra_flags "")
set(_lumetra_cxx_only "")
if(LUMETRA_CROSS_ARCH STREQUAL "armhf")
  # GCC notes at every std::vector<T>::insert that the ARM calling convention for
  # some arguments changed in GCC 7.1: it matters only when linking objects built
  # before that, and everything here comes from one compiler generation.
  set(_lumetra_cxx_only "-Wno-psabi")
endif()
if(NOT LUMETRA_CROSS_ARCH STREQUAL "aarch64")
  # 64-bit file offsets and inode numbers: without them readdir and stat fail with
  # EOVERFLOW on file systems that hand out 64-bit values (ext4's directory cookies,
  # large inode numbers), and a box may keep its subtitles on such a stick. The time
  # fields stay 32-bit, so the kernel's input_event record stays 16 bytes.
  set(_lumetra_flags "-D_FILE_OFFSET_BITS=64")
endif()
set(CMAKE_C_FLAGS_INIT "${_lumetra_flags}")
string(STRIP "${_lumetra_cxx_only} ${_lumetra_flags}" CMAKE_CXX_FLAGS_INIT)

if(NOT LUMETRA_CROSS_SYSROOT)
  set(LUMETRA_CROSS_SYSROOT "${CMAKE_BINARY_DIR}/sysroot")
endif()
set(LUMETRA_CROSS_ARCH "${LUMETRA_CROSS_ARCH}" CACHE STRING "Box architecture: mipsel, armhf or aarch64")
set(LUMETRA_CROSS_SYSROOT "${LUMETRA_CROSS_SYSROOT}" CACHE PATH "Unpacked target libraries")
set(ENV{LUMETRA_CROSS_ARCH} "${LUMETRA_CROSS_ARCH}")
set(ENV{LUMETRA_CROSS_SYSROOT} "${LUMETRA_CROSS_SYSROOT}")
if(NOT EXISTS "${LUMETRA_CROSS_SYSROOT}/usr/lib/${LUMETRA_CROSS_TRIPLET}")
  message(FATAL_ERROR "No ${LUMETRA_CROSS_ARCH} sysroot at ${LUMETRA_CROSS_SYSROOT}: "
    "run scripts/cross-sysroot.sh ${LUMETRA_CROSS_ARCH}")
endif()

# The C library comes with the compiler; the rest only from the sysroot, never the host.
set(LUMETRA_CROSS_LIBC /usr/${LUMETRA_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH "${LUMETRA_CROSS_SYSROOT}" "${LUMETRA_CROSS_LIBC}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libfreetype.so names libpng16, libz and libbrotlidec: the linker finds them here.
set(LUMETRA_CROSS_LIBDIRS
  "${LUMETRA_CROSS_SYSROOT}/usr/lib/${LUMETRA_CROSS_TRIPLET}"
  "${LUMETRA_CROSS_SYSROOT}/lib/${LUMETRA_CROSS_TRIPLET}")
string(REPLACE ";" ":" _lumetra_libpath "${LUMETRA_CROSS_LIBDIRS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_lumetra_libpath}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_lumetra_libpath}")

# -L lets the dynamic loader and the C library be found under their cross prefix;
# the sysroot's shared libraries come through the target's library path.
find_program(LUMETRA_CROSS_QEMU ${_lumetra_qemu} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
  "${LUMETRA_CROSS_QEMU}" -L "${LUMETRA_CROSS_LIBC}" -E "LD_LIBRARY_PATH=${_lumetra_libpath}")

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LUMETRA_CROSS_ARCH LUMETRA_CROSS_SYSROOT)
