# Cross-compiling for the box: 32-bit little-endian MIPS, Debian's cross toolchain
# (g++-mipsel-linux-gnu) with its own C library under /usr/mipsel-linux-gnu, and
# the target's FreeType, libpng, zlib, brotli, uchardet and GoogleTest unpacked into a
# sysroot by scripts/mipsel-sysroot.sh.
#
#   cmake -S . -B build-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-toolchain.cmake
#
# The sysroot is BUILD_DIR/sysroot unless LUMETRA_MIPSEL_SYSROOT names another.
# Programs built here run under qemu-mipsel, named as the emulator since the host
# has no binfmt handler for MIPS.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)

set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)

# 64-bit file offsets and inode numbers: without them readdir and stat fail with
# EOVERFLOW on file systems that hand out 64-bit values (ext4's directory cookies,
# large inode numbers), and a box may keep its subtitles on such a stick. The time
# fields stay 32-bit, so the kernel's input_event record stays 16 bytes.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")

# This file is read again for every try_compile, where CMAKE_BINARY_DIR is a
# scratch directory: the first reading fixes the sysroot for the later ones.
if(NOT LUMETRA_MIPSEL_SYSROOT)
  if(DEFINED ENV{LUMETRA_MIPSEL_SYSROOT})
    set(LUMETRA_MIPSEL_SYSROOT "$ENV{LUMETRA_MIPSEL_SYSROOT}")
  else()
    set(LUMETRA_MIPSEL_SYSROOT "${CMAKE_BINARY_DIR}/sysroot")
  endif()
endif()
set(LUMETRA_MIPSEL_SYSROOT "${LUMETRA_MIPSEL_SYSROOT}" CACHE PATH "Unpacked mipsel libraries")
set(ENV{LUMETRA_MIPSEL_SYSROOT} "${LUMETRA_MIPSEL_SYSROOT}")
if(NOT EXISTS "${LUMETRA_MIPSEL_SYSROOT}/usr/lib/mipsel-linux-gnu")
  message(FATAL_ERROR "No mipsel sysroot at ${LUMETRA_MIPSEL_SYSROOT}: run scripts/mipsel-sysroot.sh")
endif()

# The C library comes with the compiler; the rest only from the sysroot, never the host.
set(LUMETRA_MIPSEL_LIBC /usr/mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH "${LUMETRA_MIPSEL_SYSROOT}" "${LUMETRA_MIPSEL_LIBC}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libfreetype.so names libpng16, libz and libbrotlidec: the linker finds them here.
set(LUMETRA_MIPSEL_LIBDIRS
  "${LUMETRA_MIPSEL_SYSROOT}/usr/lib/mipsel-linux-gnu"
  "${LUMETRA_MIPSEL_SYSROOT}/lib/mipsel-linux-gnu")
string(REPLACE ";" ":" _lumetra_libpath "${LUMETRA_MIPSEL_LIBDIRS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_lumetra_libpath}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_lumetra_libpath}")

# -L lets the dynamic loader and the C library be found under their cross prefix;
# the sysroot's shared libraries come through the target's library path.
find_program(LUMETRA_QEMU_MIPSEL qemu-mipsel REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
  "${LUMETRA_QEMU_MIPSEL}" -L "${LUMETRA_MIPSEL_LIBC}" -E "LD_LIBRARY_PATH=${_lumetra_libpath}")

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LUMETRA_MIPSEL_SYSROOT)
