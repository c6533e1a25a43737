#!/usr/bin/env bash
# Starts the desktop program from its program folder (argument 1). On a desktop the window
# opens there; without a display the program runs under a virtual X server and writes a
# picture of its window to the file printed below. A second start shows the running instance.
# Further arguments go to the program (e.g. --devices DIR).
set -euo pipefail
BIN=$(cd "${1:?usage: start-app.sh <program folder> [program arguments]}" && pwd)
shift
PROGRAM="$BIN/torvanix"
if [ "$(id -u)" -eq 0 ]; then
    # The browser engine refuses to run as root with its sandbox on.
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$PROGRAM" "$@"
fi
SHOT=${TORVANIX_SCREENSHOT:-$(dirname "$BIN")/torvanix-window.png}
export TORVANIX_SCREENSHOT="$SHOT"
echo "No display: running Torvanix under Xvfb; the window picture will be written to $SHOT"
exec xvfb-run -a -s "-screen 0 1280x800x24" "$PROGRAM" "$@"
