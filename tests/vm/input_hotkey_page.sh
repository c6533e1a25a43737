#!/usr/bin/env bash
# input_hotkey_page.sh BUILD_DIR
# The input filter behind the real window and browser view, inside the test VM: a hot key
# pressed on a kernel keyboard reaches the page opened as "quick_set.html" and not the main
# page. Work files (the browser's profile among them) go to BUILD_DIR/vm/hotkey-page.
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
if [ "${1:-}" = --in-vm ]; then
    # The page is served over the loopback interface, which the VM leaves down.
    ip link set lo up
    export QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software QTWEBENGINE_DISABLE_SANDBOX=1 \
        TORVANIX_NO_PAUSE=1 HOME=$PWD TORVANIX_DEVICES_DIR=$2/bin \
        QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
    exec "$2/tests/torvanix-vm-hotkey-page"
fi
[ $# -eq 1 ] || { sed -n '2,6p' "$0" >&2; exit 2; }
B=$(realpath "$1")
[ -x "$B/tests/torvanix-vm-hotkey-page" ] || { echo "build torvanix-vm-hotkey-page first" >&2; exit 2; }
W=$B/vm/hotkey-page
rm -rf "$W"
mkdir -p "$W"
cd "$W" && TORVANIX_VM_DIR=$B/vm TORVANIX_VM_MEM=2048 TORVANIX_VM_TIMEOUT=${TORVANIX_VM_TIMEOUT:-800} \
    "$ROOT/scripts/vm/run-in-vm.sh" "$W" "$HERE/input_hotkey_page.sh" --in-vm "$B"
