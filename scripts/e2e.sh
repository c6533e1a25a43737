#!/usr/bin/env bash
# Runs the end-to-end suite (tests/e2e) against the built program: each test file starts the
# program on its own virtual X server, so no display is needed. Argument: the build folder.
set -euo pipefail
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
export TORVANIX_BUILD_DIR=$(cd "${1:-${TORVANIX_BUILD_DIR:-$SOURCE/build}}" && pwd)
cd "$SOURCE/tests/e2e"
for tool in node Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (run scripts/deps.sh)" >&2; exit 1; }
done
if [ ! -f node_modules/.torvanix-installed ] || [ package-lock.json -nt node_modules/.torvanix-installed ]; then
    npm ci --no-audit --no-fund --loglevel=error
    touch node_modules/.torvanix-installed
fi
# ./test runs everything offscreen; the harness sets up its own display per program.
unset QT_QPA_PLATFORM
shift || true
exec node --test --test-concurrency=1 "${@:-scenarios/}"
