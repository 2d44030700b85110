#!/bin/bash
# Installs every Debian package the build, the tests and the simulator need.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config linux-libc-dev
  libfreetype-dev libpng-dev libjpeg-dev zlib1g-dev libsdl2-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev libass-dev
  libuchardet-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  espeak-ng sox ffmpeg
  fonts-dejavu-core fonts-dejavu-extra
  clang libclang-rt-14-dev
  xvfb xdotool
  chromium chromium-driver python3-selenium
  dpkg-dev
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi
# civetweb's source (the web server compiled into the player), from Debian's source
# package; configuring the build fetches it too when it is missing.
bash "$(dirname "$0")/civetweb-source.sh"
