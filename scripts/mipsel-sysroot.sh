#!/bin/bash
# Installs the mipsel cross toolchain and qemu-user from Debian and unpacks the
# target libraries into a sysroot inside the build folder.
#
#   scripts/mipsel-sysroot.sh [BUILD_DIR]        (default: build-mipsel)
#
# The mipsel libraries cannot be installed through multiarch here (the security
# archive carries no mipsel, so the shared libraries' versions clash with the
# host's), so they are fetched with `apt-get download` and unpacked with
# `dpkg-deb -x` into BUILD_DIR/sysroot. The .deb files stay in BUILD_DIR/debs and
# a stamp records what was unpacked: a second run with everything present does
# nothing but check.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-mipsel}
mkdir -p "$BUILD"
BUILD=$(cd "$BUILD" && pwd)
SYSROOT=$BUILD/sysroot
DEBS=$BUILD/debs

HOST_PACKAGES=(
  cmake ninja-build
  g++-mipsel-linux-gnu binutils-mipsel-linux-gnu qemu-user
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
  $SUDO apt-get update -qq || echo "mipsel-sysroot: apt-get update reported errors; going on"
  apt_updated=1
}

missing=()
for p in "${HOST_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "mipsel-sysroot: installing ${missing[*]}"
  apt_update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

STAMP=$SYSROOT/.lumetra-sysroot
want="${TARGET_PACKAGES[*]}"
if [ -f "$STAMP" ] && [ "$(head -n1 "$STAMP")" = "$want" ]; then
  echo "mipsel-sysroot: $SYSROOT is ready"
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
  $SUDO dpkg --add-architecture mipsel
  apt_updated=0
fi
if ! apt-cache show libfreetype6:mipsel >/dev/null 2>&1; then
  apt_update
fi

mkdir -p "$DEBS"
# apt's unprivileged download user cannot write into the build folder.
DOWNLOAD=(apt-get download -qq)
[ "$(id -u)" -eq 0 ] && DOWNLOAD+=(-o APT::Sandbox::User=root)
for p in "${TARGET_PACKAGES[@]}"; do
  if ! ls "$DEBS/${p}"_*_mipsel.deb >/dev/null 2>&1; then
    (cd "$DEBS" && "${DOWNLOAD[@]}" "$p:mipsel") || {
      apt_update
      (cd "$DEBS" && "${DOWNLOAD[@]}" "$p:mipsel")
    }
  fi
done

rm -rf "$SYSROOT"
mkdir -p "$SYSROOT"
for p in "${TARGET_PACKAGES[@]}"; do
  for deb in "$DEBS/${p}"_*_mipsel.deb; do
    dpkg-deb -x "$deb" "$SYSROOT"
  done
done

# Absolute symlinks (such as zlib's libz.so -> /lib/mipsel-linux-gnu/libz.so.1)
# would point into the host: make them relative to their place in the sysroot.
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
echo "mipsel-sysroot: unpacked ${#TARGET_PACKAGES[@]} packages into $SYSROOT"
