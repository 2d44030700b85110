#!/bin/bash
# Cross-builds Lumetra for a box architecture and runs the in-process test suite
# under qemu-user; packs the box package on the way.
#
#   scripts/cross-build.sh ARCH [--configure-only | --subset] [BUILD_DIR]
#
# ARCH: mipsel (32-bit little-endian MIPS), armhf (ARMv7 hard-float) or aarch64.
# BUILD_DIR defaults to build-ARCH. Installs what it needs from Debian
# (scripts/cross-sysroot.sh) and keeps every download inside BUILD_DIR, so a second
# run only rebuilds what changed.
#   --configure-only  stops after configuring (used by scripts/box-package.sh)
#   --subset          builds the box binaries, the simulator and the programs of the
#                     converter, scenario, input-record and web server tests, and runs
#                     those tests and the box checks instead of the whole suite
set -euo pipefail
cd "$(dirname "$0")/.."
ARCH=${1:?usage: cross-build.sh mipsel|armhf|aarch64 [--configure-only | --subset] [BUILD_DIR]}
shift
# shellcheck source=scripts/cross-arch.sh
source scripts/cross-arch.sh
cross_arch "$ARCH" || exit 2
mode=all
case "${1:-}" in
  --configure-only) mode=configure; shift ;;
  --subset) mode=subset; shift ;;
esac
BUILD=${1:-build-$ARCH}
JOBS=$(nproc)
SUBSET_TARGETS=(lumetra lumetra-convert lumetra-sim test_convert_samples test_convert_tool
  test_web_rules test_web_server
  test_sim_scenarios test_input_event_abi)
SUBSET_TESTS='^(ConvertSamples|ConvertTool|SimScenario|InputEventAbi|WebRules|WebServer)\.|^box\.'

step_start=0
step() {
  echo "== $ARCH: $1"
  step_start=$SECONDS
}
step_done() {
  echo "== $ARCH: $1 took $((SECONDS - step_start)) s"
}

step "toolchain and sysroot"
bash scripts/cross-sysroot.sh "$ARCH" "$BUILD"
step_done "toolchain and sysroot"

step "configure"
# No window (no SDL for the target), no benchmarks; the box binaries static and
# stripped; the converter decodes code pages with its own tables (a static binary
# cannot load glibc's iconv modules) and detects them with uchardet's archive.
cmake -S . -B "$BUILD" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/cross-toolchain.cmake" \
  -DLUMETRA_CROSS_ARCH="$ARCH" \
  -DLUMETRA_CROSS_SYSROOT="$(cd "$BUILD" && pwd)/sysroot" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DLUMETRA_BENCH=OFF -DLUMETRA_WINDOW=OFF -DLUMETRA_SIM=ON -DLUMETRA_TESTS=ON \
  -DLUMETRA_STATIC_BOX=ON -DLUMETRA_CONV_ICONV=OFF -DLUMETRA_CONVERT_FFMPEG=OFF >"$BUILD/configure.log" ||
  { cat "$BUILD/configure.log"; exit 1; }
# The same dependency policy on every box: a converter without uchardet would
# guess code pages worse on one architecture than on another.
grep -q '^-- Conversion: iconv OFF, uchardet ON$' "$BUILD/configure.log" ||
  { grep '^-- Conversion' "$BUILD/configure.log"; echo "$ARCH: uchardet not found in the sysroot" >&2; exit 1; }
step_done "configure"
[ "$mode" = configure ] && exit 0

step "build"
if [ "$mode" = subset ]; then
  cmake --build "$BUILD" -j "$JOBS" --target "${SUBSET_TARGETS[@]}"
else
  cmake --build "$BUILD" -j "$JOBS"
fi
echo "the static stripped box binary $BUILD/lumetra: $(wc -c <"$BUILD/lumetra") bytes"
echo "the static stripped converter $BUILD/lumetra-convert: $(wc -c <"$BUILD/lumetra-convert") bytes"
step_done "build"

step "box package"
cmake --build "$BUILD" --target box-package
step_done "box package"

step "ctest under $CROSS_QEMU"
if [ "$mode" = subset ]; then
  ctest --test-dir "$BUILD" --output-on-failure --no-tests=error -j "$JOBS" -R "$SUBSET_TESTS"
else
  ctest --test-dir "$BUILD" --output-on-failure --no-tests=error -j "$JOBS"
fi
step_done "ctest under $CROSS_QEMU"
