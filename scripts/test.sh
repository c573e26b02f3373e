#!/usr/bin/env bash
# Sets Caspira up and runs its whole test suite (windows run offscreen).
#
#   scripts/test.sh [ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 "$@"
