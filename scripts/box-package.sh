#!/bin/bash
# Packs the box package: an .ipk (an ar archive of debian-binary, control.tar.gz
# and data.tar.gz, the format box images install with opkg) holding
#   /usr/bin/lumetra                          the static box binary
#   /usr/bin/lumetra-convert                  the subtitle converter, static
#   /var/tuxbox/Tresk/Tresk.ttf               DejaVu Sans Condensed
#   /var/tuxbox/Tresk/Tresk.ttf.copyright     the font's licence
#   /var/tuxbox/Tresk/tit/                    the subtitle directory, empty
#
#   scripts/box-package.sh                    cross-builds the box binaries in
#                                             build-mipsel, packs them there
#   scripts/box-package.sh --binary FILE --converter FILE [--out DIR]
#                                             packs binaries built already
#
# Prints the path of the package. Its version is the project's (CMakeLists.txt's
# project line, which the binaries print with --version); LUMETRA_VERSION overrides it.
set -euo pipefail
cd "$(dirname "$0")/.."
binary=""
converter=""
out=""
while [ $# -gt 0 ]; do
  case "$1" in
    --binary) binary=$2; shift 2 ;;
    --converter) converter=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "usage: box-package.sh [--binary FILE --converter FILE] [--out DIR]" >&2; exit 2 ;;
  esac
done
VERSION=${LUMETRA_VERSION:-$(sed -n 's/^project(lumetra VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)}
[ -n "$VERSION" ] || { echo "box-package: no version in CMakeLists.txt's project line" >&2; exit 1; }
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf
LICENCE=/usr/share/doc/fonts-dejavu-extra/copyright
[ -f "$LICENCE" ] || LICENCE=/usr/share/doc/fonts-dejavu-core/copyright

if [ -z "$binary" ] && [ -z "$converter" ]; then
  bash scripts/mipsel-build.sh --configure-only build-mipsel
  cmake --build build-mipsel --target lumetra lumetra-convert
  binary=build-mipsel/lumetra
  converter=build-mipsel/lumetra-convert
  out=${out:-build-mipsel}
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
Architecture: mipsel
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
ipk=$(cd "$out" && pwd)/lumetra_${VERSION}_mipsel.ipk
rm -f "$ipk"
(cd "$stage" && ar rcD "$ipk" debian-binary control.tar.gz data.tar.gz)
echo "$ipk"
