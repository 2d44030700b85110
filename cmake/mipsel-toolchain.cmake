# Cross-compiling for the MIPS box: cmake/cross-toolchain.cmake for mipsel.
#
#   cmake -S . -B build-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-toolchain.cmake
#
# LUMETRA_MIPSEL_SYSROOT, where a build folder still names it, gives the sysroot.
set(LUMETRA_CROSS_ARCH mipsel)
if(NOT LUMETRA_CROSS_SYSROOT)
  if(LUMETRA_MIPSEL_SYSROOT)
    set(LUMETRA_CROSS_SYSROOT "${LUMETRA_MIPSEL_SYSROOT}")
  elseif(DEFINED ENV{LUMETRA_MIPSEL_SYSROOT})
    set(LUMETRA_CROSS_SYSROOT "$ENV{LUMETRA_MIPSEL_SYSROOT}")
  endif()
endif()
include("${CMAKE_CURRENT_LIST_DIR}/cross-toolchain.cmake")
