#!/bin/sh
# Packs the box package from a built box binary, lists its contents and checks
# them: the ar members in opkg's order, the control record, exactly the files the
# box needs with root ownership and the right modes, and their bytes. Binaries
# for another architecture than the one asked for are refused.
#
#   box_package_test.sh ARCH BINARY CONVERTER        ARCH: mipsel, armhf or aarch64
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
arch=$1
bin=$2
converter=$3
# The Architecture field opkg on the box images matches against its own list
# (README, "Which package"): a change here strands the boxes of that kind.
case "$arch" in
  mipsel) control_arch=mipsel other=armhf ;;
  armhf) control_arch=armv7ahf-neon other=aarch64 ;;
  aarch64) control_arch=aarch64 other=mipsel ;;
  *) echo "FAIL: unknown architecture '$arch'"; exit 1 ;;
esac
font=/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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

ipk=$(LUMETRA_VERSION=1.2.3 bash "$here/scripts/box-package.sh" --arch "$arch" --binary "$bin" \
  --converter "$converter" --out "$work" | tail -n1)
[ -f "$ipk" ] || { echo "FAIL: no package made"; exit 1; }
check "package named for version and architecture" test "$(basename "$ipk")" = "lumetra_1.2.3_$arch.ipk"

echo "ar members:"
ar t "$ipk" | sed 's/^/  /'
check "ar members in order" test "$(ar t "$ipk" | tr '\n' ' ')" = "debian-binary control.tar.gz data.tar.gz "
mkdir "$work/x" "$work/root"
(cd "$work/x" && ar x "$ipk")
check "debian-binary is 2.0" test "$(od -An -c "$work/x/debian-binary" | tr -d ' ')" = '2.0\n'

echo "control.tar.gz:"
tar -tvzf "$work/x/control.tar.gz" | sed 's/^/  /'
check "control archive holds the control file only" \
  test "$(tar -tzf "$work/x/control.tar.gz" | sort | tr '\n' ' ')" = "./ ./control "
tar -xzf "$work/x/control.tar.gz" -C "$work/x" ./control
sed 's/^/  | /' "$work/x/control"
for field in "Package: lumetra" "Version: 1.2.3" "Architecture: $control_arch"; do
  check "control: $field" grep -qx "$field" "$work/x/control"
done
check "control: a description" grep -q "^Description: ." "$work/x/control"
check "control: no dependencies (static binary)" sh -c '! grep -q "^Depends:" "$1"' - "$work/x/control"

echo "data.tar.gz:"
tar -tvzf "$work/x/data.tar.gz" | sed 's/^/  /'
expected="./
./usr/
./usr/bin/
./usr/bin/lumetra
./usr/bin/lumetra-convert
./var/
./var/tuxbox/
./var/tuxbox/Tresk/
./var/tuxbox/Tresk/Tresk.ttf
./var/tuxbox/Tresk/Tresk.ttf.copyright
./var/tuxbox/Tresk/tit/"
check "data archive holds exactly the box's files" \
  test "$(tar -tzf "$work/x/data.tar.gz" | sort)" = "$expected"
check "everything owned by root" \
  sh -c '! tar -tvzf "$1" --numeric-owner | awk "{print \$2}" | grep -vqx "0/0"' - "$work/x/data.tar.gz"
listing=$(tar -tvzf "$work/x/data.tar.gz")
check "binary mode 0755" sh -c 'printf "%s\n" "$1" | grep -q "^-rwxr-xr-x .* ./usr/bin/lumetra$"' - "$listing"
check "converter mode 0755" \
  sh -c 'printf "%s\n" "$1" | grep -q "^-rwxr-xr-x .* ./usr/bin/lumetra-convert$"' - "$listing"
check "font mode 0644" sh -c 'printf "%s\n" "$1" | grep -q "^-rw-r--r-- .* ./var/tuxbox/Tresk/Tresk.ttf$"' - "$listing"
check "subtitle directory is a directory" \
  sh -c 'printf "%s\n" "$1" | grep -q "^drwxr-xr-x .* ./var/tuxbox/Tresk/tit/$"' - "$listing"

tar -xzf "$work/x/data.tar.gz" -C "$work/root"
check "binary is the one built" cmp -s "$bin" "$work/root/usr/bin/lumetra"
check "converter is the one built" cmp -s "$converter" "$work/root/usr/bin/lumetra-convert"
check "font is DejaVu Sans Condensed" cmp -s "$font" "$work/root/var/tuxbox/Tresk/Tresk.ttf"
check "font licence is the DejaVu/Bitstream Vera licence" \
  grep -q "Bitstream Vera" "$work/root/var/tuxbox/Tresk/Tresk.ttf.copyright"
check "subtitle directory is empty" test -z "$(ls -A "$work/root/var/tuxbox/Tresk/tit")"
size_kb=$(find "$work/root" -type f -printf '%s\n' | awk '{ s += $1 } END { print int((s + 1023) / 1024) }')
check "Installed-Size matches the contents ($size_kb kB)" \
  grep -qx "Installed-Size: $size_kb" "$work/x/control"

# Packing twice gives the same bytes.
mkdir "$work/again"
ipk2=$(LUMETRA_VERSION=1.2.3 bash "$here/scripts/box-package.sh" --arch "$arch" --binary "$bin" \
  --converter "$converter" --out "$work/again" | tail -n1)
check "packing is reproducible" cmp -s "$ipk" "$ipk2"

# The binaries asked to be packed for another architecture: refused, nothing made.
# Without --arch the package is for MIPS.
refused() {  # expected package architecture, then box-package.sh's options
  want=$1
  shift
  rm -rf "$work/wrong"
  msg=$(LUMETRA_VERSION=1.2.3 bash "$here/scripts/box-package.sh" "$@" --binary "$bin" \
    --converter "$converter" --out "$work/wrong" 2>&1)
  status=$?
  printf '%s\n' "$msg" | sed 's/^/  | /'
  test "$status" -eq 1 && test -z "$(ls -A "$work/wrong" 2>/dev/null)" &&
    printf '%s\n' "$msg" | grep -q "is not an .* binary for $want"
}
check "$arch binaries refused as $other" refused "$other" --arch "$other"
if [ "$arch" = mipsel ]; then
  rm -rf "$work/default"
  ipk3=$(LUMETRA_VERSION=1.2.3 bash "$here/scripts/box-package.sh" --binary "$bin" \
    --converter "$converter" --out "$work/default" | tail -n1)
  check "without --arch: the MIPS package" cmp -s "$ipk" "$ipk3"
else
  check "without --arch: $arch binaries refused as mipsel" refused mipsel
fi
check "an unknown architecture is a usage error" \
  sh -c 'bash "$1/scripts/box-package.sh" --arch mips64 --binary "$2" --converter "$3" \
    --out "$4/unknown" >/dev/null 2>&1; test $? -eq 2 && test ! -e "$4/unknown"' - \
  "$here" "$bin" "$converter" "$work"

# Without LUMETRA_VERSION the MIPS package carries the version the converter prints.
if [ "$arch" = mipsel ] && command -v qemu-mipsel >/dev/null; then
  mkdir "$work/versioned"
  ipk4=$(bash "$here/scripts/box-package.sh" --binary "$bin" --converter "$converter" \
    --out "$work/versioned" | tail -n1)
  printed=$(qemu-mipsel "$converter" --version | sed -n 's/^lumetra-convert //p')
  check "package version is the converter's (${printed:-none printed})" \
    test "$(basename "$ipk4")" = "lumetra_${printed:-?}_mipsel.ipk"
fi

# dpkg-deb reads the same ar layout: an independent reader agrees.
if command -v dpkg-deb >/dev/null; then
  check "dpkg-deb reads the package" sh -c 'dpkg-deb -f "$1" Package | grep -qx lumetra' - "$ipk"
fi
exit $fail
