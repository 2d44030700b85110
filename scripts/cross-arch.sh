# Sourced by the cross-build scripts: what each box architecture is called where.
#   cross_arch ARCH  -> CROSS_DEBIAN     Debian's architecture (packages, multiarch)
#                       CROSS_TRIPLET    the cross toolchain's prefix and library folder
#                       CROSS_QEMU       the qemu-user emulator
#                       CROSS_IPK_ARCH   the box package's Architecture field (see README)
#                       CROSS_ELF_CLASS, CROSS_ELF_MACHINE   what readelf -h says of a binary
# ARCH is the name the scripts take: mipsel, armhf or aarch64. Returns 1 for others.
cross_arch() {
  case "$1" in
    mipsel)
      CROSS_DEBIAN=mipsel CROSS_TRIPLET=mipsel-linux-gnu CROSS_QEMU=qemu-mipsel
      CROSS_IPK_ARCH=mipsel CROSS_ELF_CLASS=ELF32 CROSS_ELF_MACHINE=MIPS
      ;;
    armhf)
      CROSS_DEBIAN=armhf CROSS_TRIPLET=arm-linux-gnueabihf CROSS_QEMU=qemu-arm
      CROSS_IPK_ARCH=armv7ahf-neon CROSS_ELF_CLASS=ELF32 CROSS_ELF_MACHINE=ARM
      ;;
    aarch64)
      CROSS_DEBIAN=arm64 CROSS_TRIPLET=aarch64-linux-gnu CROSS_QEMU=qemu-aarch64
      CROSS_IPK_ARCH=aarch64 CROSS_ELF_CLASS=ELF64 CROSS_ELF_MACHINE=AArch64
      ;;
    *)
      echo "unknown box architecture '$1' (mipsel, armhf or aarch64)" >&2
      return 1
      ;;
  esac
}
