#!/bin/bash
# Installs what is needed, builds, and runs the whole test suite: a plain build,
# the suite again under AddressSanitizer + UndefinedBehaviorSanitizer, and the
# thread tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
JOBS=$(nproc)

build() {  # dir, sanitizer
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMETRA_SANITIZE="$2" \
    -DLUMETRA_BENCH=OFF >/dev/null
  cmake --build "$1" -j "$JOBS"
}

echo "== plain build"
build build ""
(cd build && ctest --output-on-failure -j "$JOBS")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build-asan "address,undefined"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$JOBS")

echo "== ThreadSanitizer (thread tests)"
build build-tsan "thread"
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j "$JOBS" -L thread)
