#!/usr/bin/env bash
# Configures (once) and builds the whole tree into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${TORVANIX_BUILD_DIR:-build}
BUILD_TYPE=${TORVANIX_BUILD_TYPE:-RelWithDebInfo}
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE"
fi
cmake --build "$BUILD_DIR" -j "$(nproc)"
