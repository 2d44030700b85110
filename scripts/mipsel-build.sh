#!/bin/bash
# Cross-builds Lumetra for the MIPS box (32-bit little-endian) and runs the whole
# in-process test suite under qemu-mipsel; packs the box package on the way.
#
#   scripts/mipsel-build.sh [--configure-only] [BUILD_DIR]     (default: build-mipsel)
#
# The same as scripts/cross-build.sh mipsel.
set -euo pipefail
exec bash "$(dirname "$0")/cross-build.sh" mipsel "$@"
