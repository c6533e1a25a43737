#!/usr/bin/env bash
# Prints the figures of the pages (sizes, start to device bar and to first paint of the small
# pages, action to device call, longest task)
# measured in the built program. Arguments: [build folder] [number of starts, default 10].
set -euo pipefail
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
export TORVANIX_BUILD_DIR=$(cd "${1:-${TORVANIX_BUILD_DIR:-$SOURCE/build}}" && pwd)
if [ ! -d "$SOURCE/tests/e2e/node_modules" ]; then
    (cd "$SOURCE/tests/e2e" && npm ci --no-audit --no-fund --loglevel=error)
fi
exec node "$SOURCE/bench/web/figures.mjs" "${2:-10}"
