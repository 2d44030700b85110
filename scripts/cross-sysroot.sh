#!/bin/bash
# Installs the cross toolchain and qemu-user for one box architecture from Debian
# and unpacks the target libraries into a sysroot inside the build folder.
#
#   scripts/cross-sysroot.sh ARCH [BUILD_DIR]     ARCH: mipsel, armhf or aarch64
#                                                 (default BUILD_DIR: build-ARCH)
#
# The target libraries are fetched with `apt-get download` and unpacked with
# `dpkg-deb -x` into BUILD_DIR/sysroot rather than installed through multiarch:
# the security archive carries no mipsel (so its shared libraries' versions clash
# with the host's), and a sysroot leaves the host's own libraries alone for every
# architecture alike. The .deb files stay in BUILD_DIR/debs and a stamp records
# what was unpacked: a second run with everything present does nothing but check.
set -euo pipefail
cd "$(dirname "$0")/.."
ARCH=${1:?usage: cross-sysroot.sh mipsel|armhf|aarch64 [BUILD_DIR]}
# shellcheck source=scripts/cross-arch.sh
source scripts/cross-arch.sh
cross_arch "$ARCH" || exit 2
BUILD=${2:-build-$ARCH}
mkdir -p "$BUILD"
BUILD=$(cd "$BUILD" && pwd)
SYSROOT=$BUILD/sysroot
DEBS=$BUILD/debs

HOST_PACKAGES=(
  cmake ninja-build
  "g++-$CROSS_TRIPLET" "binutils-$CROSS_TRIPLET" qemu-user
  fonts-dejavu-core fonts-dejavu-extra
)
TARGET_PACKAGES=(
  libfreetype6 libfreetype-dev libpng16-16 libpng-dev zlib1g zlib1g-dev
  libbrotli1 libbrotli-dev libgtest-dev libgmock-dev
  libuchardet0 libuchardet-dev
)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
apt_updated=0
apt_update() {
  # One unreachable or foreign source must not stop the build: what matters is
  # whether the packages are found afterwards.
  [ "$apt_updated" = 1 ] && return 0
  $SUDO apt-get update -qq || echo "$ARCH-sysroot: apt-get update reported errors; going on"
  apt_updated=1
}

missing=()
for p in "${HOST_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "$ARCH-sysroot: installing ${missing[*]}"
  apt_update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

STAMP=$SYSROOT/.lumetra-sysroot
want="${TARGET_PACKAGES[*]}"
if [ -f "$STAMP" ] && [ "$(head -n1 "$STAMP")" = "$want" ]; then
  echo "$ARCH-sysroot: $SYSROOT is ready"
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx "$CROSS_DEBIAN"; then
  $SUDO dpkg --add-architecture "$CROSS_DEBIAN"
  apt_updated=0
fi
if ! apt-cache show "libfreetype6:$CROSS_DEBIAN" >/dev/null 2>&1; then
  apt_update
fi

mkdir -p "$DEBS"
# apt's unprivileged download user cannot write into the build folder.
DOWNLOAD=(apt-get download -qq)
[ "$(id -u)" -eq 0 ] && DOWNLOAD+=(-o APT::Sandbox::User=root)
for p in "${TARGET_PACKAGES[@]}"; do
  if ! ls "$DEBS/${p}"_*_"$CROSS_DEBIAN".deb >/dev/null 2>&1; then
    (cd "$DEBS" && "${DOWNLOAD[@]}" "$p:$CROSS_DEBIAN") || {
      apt_update
      (cd "$DEBS" && "${DOWNLOAD[@]}" "$p:$CROSS_DEBIAN")
    }
  fi
done

rm -rf "$SYSROOT"
mkdir -p "$SYSROOT"
for p in "${TARGET_PACKAGES[@]}"; do
  for deb in "$DEBS/${p}"_*_"$CROSS_DEBIAN".deb; do
    dpkg-deb -x "$deb" "$SYSROOT"
  done
done

# Absolute symlinks (such as zlib's libz.so -> /lib/<triplet>/libz.so.1) would
# point into the host: make them relative to their place in the sysroot.
while IFS= read -r -d '' link; do
  target=$(readlink "$link")
  case "$target" in
    /*)
      rel=$(realpath -m --relative-to="$(dirname "$link")" "$SYSROOT$target")
      ln -sfn "$rel" "$link"
      ;;
  esac
done < <(find "$SYSROOT" -type l -print0)

{
  echo "$want"
  for deb in "$DEBS"/*.deb; do basename "$deb"; done
} >"$STAMP"
echo "$ARCH-sysroot: unpacked ${#TARGET_PACKAGES[@]} packages into $SYSROOT"
