#!/bin/sh
# The box binaries as shipped: the player and the converter, 32-bit little-endian
# MIPS executables, linked statically and stripped; the player ends with the
# framebuffer diagnostic and status 1 where there is no framebuffer device.
#
#   box_binary_test.sh BINARY CONVERTER EMULATOR [EMULATOR ARGS...]
set -u
bin=$1
converter=$2
shift 2
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
  header=$(readelf -h "$b") || { echo "FAIL: $b is no ELF file"; exit 1; }
  check "$name: 32-bit ELF" sh -c 'printf "%s\n" "$1" | grep -Eq "Class: +ELF32$"' - "$header"
  check "$name: little-endian" sh -c 'printf "%s\n" "$1" | grep -q "little endian"' - "$header"
  check "$name: MIPS machine" sh -c 'printf "%s\n" "$1" | grep -Eq "Machine: +MIPS"' - "$header"
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
