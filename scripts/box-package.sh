#!/bin/bash
# Packs the box package: an .ipk (an ar archive of debian-binary, control.tar.gz
# and data.tar.gz, the format box images install with opkg) holding
#   /usr/bin/lumetra                          the static box binary
#   /usr/bin/lumetra-convert                  the subtitle converter, static
#   /var/tuxbox/Tresk/Tresk.ttf               DejaVu Sans Condensed
#   /var/tuxbox/Tresk/Tresk.ttf.copyright     the font's licence
#   /var/tuxbox/Tresk/tit/                    the subtitle directory, empty
#
#   scripts/box-package.sh [--arch ARCH]      cross-builds the box binaries in
#                                             build-ARCH, packs them there
#   scripts/box-package.sh [--arch ARCH] --binary FILE --converter FILE [--out DIR]
#                                             packs binaries built already
#
# ARCH: mipsel (the default), armhf or aarch64; the package is
# lumetra_<version>_<ARCH>.ipk, and its control file names the architecture the
# box images' opkg accepts for that CPU (scripts/cross-arch.sh; README says why).
# Prints the path of the package, and the binaries' sizes on standard error. Its version is the project's (CMakeLists.txt's
# project line, which the binaries print with --version); LUMETRA_VERSION overrides it.
set -euo pipefail
cd "$(dirname "$0")/.."
binary=""
converter=""
out=""
arch=mipsel
usage="usage: box-package.sh [--arch mipsel|armhf|aarch64] [--binary FILE --converter FILE] [--out DIR]"
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=${2:-}; shift 2 || { echo "$usage" >&2; exit 2; } ;;
    --binary) binary=$2; shift 2 ;;
    --converter) converter=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
# shellcheck source=scripts/cross-arch.sh
source scripts/cross-arch.sh
cross_arch "$arch" || { echo "$usage" >&2; exit 2; }
VERSION=${LUMETRA_VERSION:-$(sed -n 's/^project(lumetra VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)}
[ -n "$VERSION" ] || { echo "box-package: no version in CMakeLists.txt's project line" >&2; exit 1; }
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf
LICENCE=/usr/share/doc/fonts-dejavu-extra/copyright
[ -f "$LICENCE" ] || LICENCE=/usr/share/doc/fonts-dejavu-core/copyright

if [ -z "$binary" ] && [ -z "$converter" ]; then
  bash scripts/cross-build.sh "$arch" --configure-only "build-$arch"
  cmake --build "build-$arch" --target lumetra lumetra-convert
  binary=build-$arch/lumetra
  converter=build-$arch/lumetra-convert
  out=${out:-build-$arch}
fi
out=${out:-.}
if [ ! -f "$FONT" ] || [ ! -f "$LICENCE" ]; then
  missing=(fonts-dejavu-core fonts-dejavu-extra)
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq || true
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
[ -f "$binary" ] || { echo "box-package: no binary $binary" >&2; exit 1; }
[ -f "$converter" ] || { echo "box-package: no converter $converter" >&2; exit 1; }
# A binary for another CPU would install without complaint and then not start.
for f in "$binary" "$converter"; do
  header=$(LC_ALL=C readelf -h "$f" 2>/dev/null) || { echo "box-package: $f is no ELF file" >&2; exit 1; }
  # grep reads the whole header (no -q): quitting early would end printf with SIGPIPE,
  # which pipefail turns into a refusal.
  if ! printf '%s\n' "$header" | grep -E "Class: +$CROSS_ELF_CLASS\$" >/dev/null ||
    ! printf '%s\n' "$header" | grep -E "Machine: +$CROSS_ELF_MACHINE( |\$)" >/dev/null; then
    echo "box-package: $f is not an $CROSS_ELF_CLASS $CROSS_ELF_MACHINE binary for $arch:" \
      "$(printf '%s\n' "$header" | sed -n 's/^ *Machine: *//p')" >&2
    exit 1
  fi
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
data=$stage/data
control=$stage/control
install -d -m 0755 "$data/usr/bin" "$data/var/tuxbox/Tresk/tit" "$control"
install -m 0755 "$binary" "$data/usr/bin/lumetra"
install -m 0755 "$converter" "$data/usr/bin/lumetra-convert"
install -m 0644 "$FONT" "$data/var/tuxbox/Tresk/Tresk.ttf"
install -m 0644 "$LICENCE" "$data/var/tuxbox/Tresk/Tresk.ttf.copyright"

# Installed-Size: the files' bytes in KiB, rounded up.
size_kb=$(find "$data" -type f -printf '%s\n' | awk '{ s += $1 } END { print int((s + 1023) / 1024) }')
cat >"$control/control" <<EOF
Package: lumetra
Version: $VERSION
Architecture: $CROSS_IPK_ARCH
Maintainer: Lumetra developers
Section: multimedia
Priority: optional
Installed-Size: $size_kb
Description: subtitle overlay player for the set-top box
 Draws the subtitles of a film over the picture on the on-screen-display
 framebuffer, in time with the film, steered by the remote control.
 Subtitle files (.tkx) go in /var/tuxbox/Tresk/tit/; SubRip, MicroDVD,
 ASS/SSA, WebVTT, MPL2 and TMPlayer files put there are converted when the
 file menu opens, or with lumetra-convert.
EOF
printf '2.0\n' >"$stage/debian-binary"

# The same inputs give the same bytes: fixed owner, order and times.
stamp=${SOURCE_DATE_EPOCH:-0}
pack() {  # directory, archive
  tar --format=gnu --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$stamp" \
    -C "$1" -cf - . | gzip -n -9 >"$2"
}
pack "$control" "$stage/control.tar.gz"
pack "$data" "$stage/data.tar.gz"

mkdir -p "$out"
ipk=$(cd "$out" && pwd)/lumetra_${VERSION}_${arch}.ipk
rm -f "$ipk"
(cd "$stage" && ar rcD "$ipk" debian-binary control.tar.gz data.tar.gz)
# The sizes README's table gives (scripts/readme-sizes.sh writes them there), on
# standard error: the last line of standard output is the package's path.
echo "box-package: $arch binaries (bytes): lumetra $(stat -c %s "$binary")," \
  "lumetra-convert $(stat -c %s "$converter")" >&2
echo "$ipk"
