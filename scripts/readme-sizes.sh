#!/bin/bash
# Writes the sizes of the box binaries that scripts/cross-build.sh built into README's
# table "The box binaries, static and stripped", each row with the commit and the day it
# was measured at, so that a figure is never older than it says:
#
#   scripts/readme-sizes.sh ARCH...     ARCH: mipsel, armhf or aarch64; reads
#                                       build-ARCH/lumetra and build-ARCH/lumetra-convert
#
# LUMETRA_README names another README, LUMETRA_BUILD_ROOT another folder holding the
# build-ARCH folders. A missing binary or row changes nothing and exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."
readme=${LUMETRA_README:-README.md}
root=${LUMETRA_BUILD_ROOT:-.}
[ $# -gt 0 ] || { echo "usage: readme-sizes.sh mipsel|armhf|aarch64..." >&2; exit 2; }
measured="$(git describe --always --dirty 2>/dev/null || echo unknown), $(date -u +%Y-%m-%d)"

# 2689792 -> "2 689 792", as the table writes numbers.
grouped() {
  printf '%s' "$1" | sed -e ':a' -e 's/\([0-9]\)\([0-9]\{3\}\)\($\| \)/\1 \2\3/' -e 'ta'
}

table=$(mktemp)
trap 'rm -f "$table"' EXIT
cp "$readme" "$table"
for arch in "$@"; do
  case "$arch" in
    mipsel | armhf | aarch64) ;;
    *) echo "readme-sizes: unknown box architecture '$arch'" >&2; exit 2 ;;
  esac
  binary=$root/build-$arch/lumetra
  converter=$root/build-$arch/lumetra-convert
  for f in "$binary" "$converter"; do
    [ -f "$f" ] || { echo "readme-sizes: no $f (cross-build $arch first)" >&2; exit 1; }
  done
  row_sizes="$(grouped "$(stat -c %s "$binary")") | $(grouped "$(stat -c %s "$converter")")"
  # The row whose first cell names the architecture: its label stays, the rest is new.
  if ! grep -q "^| [^|]*(\`$arch\`) |" "$table"; then
    echo "readme-sizes: $readme has no row for $arch" >&2
    exit 1
  fi
  sed -i "s/^\(| [^|]*(\`$arch\`) |\).*/\1 $row_sizes | $measured |/" "$table"
  echo "readme-sizes: $arch: $row_sizes ($measured)"
done
cp "$table" "$readme"
