#!/bin/bash
# The MIPS sysroot: scripts/cross-sysroot.sh mipsel [BUILD_DIR].
#
#   scripts/mipsel-sysroot.sh [BUILD_DIR]        (default: build-mipsel)
set -euo pipefail
exec bash "$(dirname "$0")/cross-sysroot.sh" mipsel "${1:-build-mipsel}"
