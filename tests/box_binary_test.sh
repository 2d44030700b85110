#!/bin/sh
# The box binaries as shipped: the player and the converter, little-endian
# executables for the box's architecture (32-bit MIPS; ARMv7 with the hard-float
# calling convention; AArch64), linked statically and stripped; the player ends
# with the framebuffer diagnostic and status 1 where there is no framebuffer device.
#
#   box_binary_test.sh ARCH BINARY CONVERTER EMULATOR [EMULATOR ARGS...]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/cross-arch.sh
. "$here/scripts/cross-arch.sh"
arch=$1
cross_arch "$arch" || exit 1
bin=$2
converter=$3
shift 3
fail=0
check() {  # description, then a command that must succeed
  what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAIL: $what"
    fail=1
  fi
}

for b in "$bin" "$converter"; do
  name=$(basename "$b")
  header=$(LC_ALL=C readelf -h "$b") || { echo "FAIL: $b is no ELF file"; exit 1; }
  check "$name: $CROSS_ELF_CLASS" sh -c 'printf "%s\n" "$1" | grep -Eq "Class: +$2$"' - "$header" \
    "$CROSS_ELF_CLASS"
  check "$name: little-endian" sh -c 'printf "%s\n" "$1" | grep -q "little endian"' - "$header"
  check "$name: $CROSS_ELF_MACHINE machine" \
    sh -c 'printf "%s\n" "$1" | grep -Eq "Machine: +$2( |$)"' - "$header" "$CROSS_ELF_MACHINE"
  if [ "$arch" = armhf ]; then
    # What the ARMv7 boxes' images are built for: the hard-float calling convention
    # and no instruction newer than ARMv7 (an ARMv8 one does not start on a Cortex-A9).
    attributes=$(LC_ALL=C readelf -A "$b")
    check "$name: hard-float ABI" sh -c 'printf "%s\n" "$1" | grep -q "hard-float ABI"' - "$header"
    check "$name: floats passed in VFP registers" \
      sh -c 'printf "%s\n" "$1" | grep -Eq "Tag_ABI_VFP_args: +VFP registers"' - "$attributes"
    check "$name: ARMv7 instructions" \
      sh -c 'printf "%s\n" "$1" | grep -Eq "Tag_CPU_arch: +v7$"' - "$attributes"
  fi
  check "$name: executable" sh -c 'printf "%s\n" "$1" | grep -Eq "Type: +EXEC"' - "$header"
  check "$name: no program interpreter (static)" sh -c '! readelf -l "$1" | grep -q INTERP' - "$b"
  check "$name: no dynamic section (static)" sh -c '! readelf -S "$1" | grep -q "\.dynamic"' - "$b"
  check "$name: no symbol table (stripped)" sh -c '! readelf -S "$1" | grep -q "\.symtab"' - "$b"
done
echo "converter size: $(wc -c <"$converter") bytes"
echo "size: $(wc -c <"$bin") bytes"

if [ -e /dev/fb/0 ] || [ -e /dev/fb0 ]; then
  echo "skip: this machine has a framebuffer device"
  exit 77
fi
out=$("$@" "$bin" 2>&1)
status=$?
printf '%s\n' "$out" | sed 's/^/  | /'
check "exit status 1 without a framebuffer (got $status)" test "$status" -eq 1
check "the diagnostic line \"Nelze otevrit!\"" sh -c 'printf "%s\n" "$1" | grep -qx "Nelze otevrit!"' - "$out"
check "nothing else reached (no device search)" sh -c '! printf "%s\n" "$1" | grep -q "rc_init\|fb_init"' - "$out"
exit $fail
