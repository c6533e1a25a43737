#!/usr/bin/env bash
# Prints what the program costs hidden in the tray and shown (memory of the whole process
# tree, idle CPU and wake-ups, start and tray-click times, page query round trips, page size),
# under Xvfb with a tray host (trayer) and the demo devices with their real pauses.
# Arguments: [build folder] [number of starts, default 3]. Takes about three minutes;
# FOOTPRINT_IDLE_SECONDS=10 shortens the two idle windows.
set -euo pipefail
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
export TORVANIX_BUILD_DIR=$(cd "${1:-${TORVANIX_BUILD_DIR:-$SOURCE/build}}" && pwd)
for tool in Xvfb trayer xdotool node; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/deps.sh" >&2; exit 1; }
done
if [ ! -d "$SOURCE/tests/e2e/node_modules" ]; then
    (cd "$SOURCE/tests/e2e" && npm ci --no-audit --no-fund --loglevel=error)
fi
exec node "$SOURCE/bench/footprint.mjs" "${2:-3}"
