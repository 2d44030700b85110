#!/bin/bash
# Cross-builds Lumetra for the box (32-bit little-endian MIPS) and runs the whole
# in-process test suite under qemu-mipsel; packs the box package on the way.
#
#   scripts/mipsel-build.sh [--configure-only] [BUILD_DIR]     (default: build-mipsel)
#
# Installs what it needs from Debian (scripts/mipsel-sysroot.sh) and keeps every
# download inside BUILD_DIR, so a second run only rebuilds what changed.
# With --configure-only it stops after configuring (used by scripts/box-package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
configure_only=0
if [ "${1:-}" = "--configure-only" ]; then
  configure_only=1
  shift
fi
BUILD=${1:-build-mipsel}
JOBS=$(nproc)

step_start=0
step() {
  echo "== mipsel: $1"
  step_start=$SECONDS
}
step_done() {
  echo "== mipsel: $1 took $((SECONDS - step_start)) s"
}

step "toolchain and sysroot"
bash scripts/mipsel-sysroot.sh "$BUILD"
step_done "toolchain and sysroot"

step "configure"
# No window (no SDL for the target), no benchmarks; the box binaries static and
# stripped; the converter decodes code pages with its own tables (a static binary
# cannot load glibc's iconv modules) and has no FFmpeg (film sound is PC-only).
cmake -S . -B "$BUILD" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mipsel-toolchain.cmake" \
  -DLUMETRA_MIPSEL_SYSROOT="$(cd "$BUILD" && pwd)/sysroot" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DLUMETRA_BENCH=OFF -DLUMETRA_WINDOW=OFF -DLUMETRA_SIM=ON -DLUMETRA_TESTS=ON \
  -DLUMETRA_STATIC_BOX=ON -DLUMETRA_CONV_ICONV=OFF -DLUMETRA_CONVERT_FFMPEG=OFF >/dev/null
step_done "configure"
[ "$configure_only" = 1 ] && exit 0

step "build"
cmake --build "$BUILD" -j "$JOBS"
echo "the static stripped box binary $BUILD/lumetra: $(wc -c <"$BUILD/lumetra") bytes"
echo "the static stripped converter $BUILD/lumetra-convert: $(wc -c <"$BUILD/lumetra-convert") bytes"
step_done "build"

step "box package"
cmake --build "$BUILD" --target box-package
step_done "box package"

step "ctest under qemu-mipsel"
ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS"
step_done "ctest under qemu-mipsel"
