#!/bin/bash
# Installs what is needed, builds, and runs the whole test suite:
#   1. the suite on the host (plain build);
#   2. the suite again under AddressSanitizer + UndefinedBehaviorSanitizer (LeakSanitizer on);
#   3. the suite again under ThreadSanitizer, less the programs that run one thread only;
#   4. the cross-build for the MIPS box (32-bit) with the suite under qemu-mipsel,
#      the static box binary, its FPU check and the box package, and the MIPS
#      instruction counts of the automatic sync's alignment (scripts/mips-instructions.sh);
#   5. the cross-build for ARMv7 boxes and 6. for AArch64 boxes, each with the converter,
#      scenario, input-record and web server tests under qemu-arm / qemu-aarch64 and its
#      package (the whole suite runs emulated once, on MIPS: the 32-bit box);
#   7. the box binary in a virtual machine on a real kernel, against the simulator;
#   8. the shipped static binary (from the box package) on a real MIPS kernel, with its
#      memory measured while it plays a two-hour film;
#   9. the shipped ARMv7 binary (from its package) on a real ARM kernel;
#  10. a short pass of every fuzz target and a short soak.
# LUMETRA_QUICK=1 runs only step 1.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
JOBS=$(nproc)
started=$SECONDS

step() { echo; echo "== $* ($((SECONDS - started)) s)"; }
# Runs one leg and says how long it took.
leg() {  # name, command...
  local name=$1 t0=$SECONDS
  shift
  "$@"
  echo "the $name leg took $((SECONDS - t0)) s"
}

build() {  # dir, sanitizer, targets...
  local dir=$1 san=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMETRA_SANITIZE="$san" \
    -DLUMETRA_BENCH=OFF >/dev/null
  cmake --build "$dir" -j "$JOBS" "$@"
}

step "suite on the host"
build build ""
(cd build && ctest --output-on-failure --no-tests=error -j "$JOBS")
[ "${LUMETRA_QUICK:-0}" = 1 ] && exit 0

step "AddressSanitizer + UndefinedBehaviorSanitizer"
build build-asan "address,undefined"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure --no-tests=error -j "$JOBS")

step "ThreadSanitizer: every test program that runs more than one thread"
# The converter, the aligner, the speech detector and the web server's pure rules run on
# one thread, so they cannot race: their programs (a third of the build) are left out.
single_threaded='^test_(convert_damaged|convert_rules|convert_samples|convert_tool|sync_align|sync_audio|sync_recording|sync_tool|speech_detector|rescale|search|menu_texts|input_event_abi|web_rules|web_page)$'
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMETRA_SANITIZE=thread \
  -DLUMETRA_BENCH=OFF >/dev/null
# Each tests/test_NAME.cpp is the program test_NAME.
mapfile -t tsan_targets < <(for f in tests/test_*.cpp; do basename "$f" .cpp; done |
  grep -Ev "$single_threaded")
cmake --build build-tsan -j "$JOBS" --target lumetra lumetra-sim lumetra-convert "${tsan_targets[@]}"
# A program left out is known to CTest as NAME_NOT_BUILT.
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --output-on-failure --no-tests=error -j "$JOBS" -E '_NOT_BUILT$')

step "box: mipsel cross-build, suite under qemu-mipsel, package"
leg mipsel bash scripts/mipsel-build.sh
leg "MIPS instruction count" bash scripts/mips-instructions.sh

step "box: armhf cross-build, converter, scenario and web tests under qemu-arm, package"
leg armhf bash scripts/cross-build.sh armhf --subset

step "box: aarch64 cross-build, converter, scenario and web tests under qemu-aarch64, package"
leg aarch64 bash scripts/cross-build.sh aarch64 --subset

step "box binary in a virtual machine"
bash tests/vm/run.sh build

step "box binary from the package on a MIPS kernel"
leg "MIPS VM" bash tests/vm/run.sh --mips build

step "box binary from the ARMv7 package on an ARM kernel"
leg "ARM VM" bash tests/vm/run.sh --arm build

step "fuzzing (short pass) and soak (short)"
bash fuzz/run.sh
bash scripts/soak.sh

step "all passed"
