#!/bin/sh
# The box binary as shipped: a 32-bit little-endian MIPS executable, linked
# statically and stripped, that ends with the framebuffer diagnostic and status 1
# where there is no framebuffer device.
#
#   box_binary_test.sh BINARY EMULATOR [EMULATOR ARGS...]
set -u
bin=$1
shift
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

header=$(readelf -h "$bin") || { echo "FAIL: $bin is no ELF file"; exit 1; }
check "32-bit ELF" sh -c 'printf "%s\n" "$1" | grep -Eq "Class: +ELF32$"' - "$header"
check "little-endian" sh -c 'printf "%s\n" "$1" | grep -q "little endian"' - "$header"
check "MIPS machine" sh -c 'printf "%s\n" "$1" | grep -Eq "Machine: +MIPS"' - "$header"
check "executable" sh -c 'printf "%s\n" "$1" | grep -Eq "Type: +EXEC"' - "$header"
check "no program interpreter (static)" sh -c '! readelf -l "$1" | grep -q INTERP' - "$bin"
check "no dynamic section (static)" sh -c '! readelf -S "$1" | grep -q "\.dynamic"' - "$bin"
check "no symbol table (stripped)" sh -c '! readelf -S "$1" | grep -q "\.symtab"' - "$bin"
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
