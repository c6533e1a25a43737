#!/usr/bin/env bash
# Prints the figures of the lighting server: full-keyboard frames sent as fast as a client can,
# frames written per second, frame to first device write, the core's processor time. Runs the
# built program offscreen on the simulated devices with their real pauses.
# Arguments: [build folder] [milliseconds of frames per keyboard, default 10000].
set -euo pipefail
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
export TORVANIX_BUILD_DIR=$(cd "${1:-${TORVANIX_BUILD_DIR:-$SOURCE/build}}" && pwd)
if [ ! -f "$SOURCE/tests/e2e/node_modules/openrgb-sdk/package.json" ]; then
    (cd "$SOURCE/tests/e2e" && npm ci --no-audit --no-fund --loglevel=error)
fi
unset QT_QPA_PLATFORM
exec node "$SOURCE/bench/sdk_frames.mjs" "${2:-10000}"
