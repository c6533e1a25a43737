#!/usr/bin/env bash
# input_forward.sh [BUILD_DIR] [MOVES]
# Latency of a mouse movement while the input filter forwards the mouse: written to a
# virtual mouse, read back from the filter's twin (the filter's read, its re-emission and the
# second read), against the same movement read straight from the mouse. Runs inside the test
# VM, the only place here with /dev/uinput; its CPU is emulated, so the absolute figures are
# several times those of a real machine. Needs the target torvanix-vm-input built.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = --in-vm ]; then
    export TORVANIX_DEVICES_DIR=$2/bin TORVANIX_NO_PAUSE=1
    exec "$2/tests/torvanix-vm-input" bench "$3"
fi
B=$(realpath "${1:-build}")
MOVES=${2:-2000}
[ -x "$B/tests/torvanix-vm-input" ] ||
    { echo "build the target torvanix-vm-input first" >&2; exit 2; }
W=$B/vm/input-bench
mkdir -p "$W"
cd "$W" && TORVANIX_VM_DIR=$B/vm QT_LOGGING_RULES='torvanix.device.debug=false' \
    "$ROOT/scripts/vm/run-in-vm.sh" "$W" "$ROOT/bench/input_forward.sh" --in-vm "$B" "$MOVES"
