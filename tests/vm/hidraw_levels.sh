#!/usr/bin/env bash
# hidraw_levels.sh BUILD_DIR
# A device's battery drains while it stays plugged in: a process that lists the devices twice
# (its link to the device kept open between the two) sees the level and status the device
# answers at the second listing, not the ones it identified with.
# Runs inside the test VM; work files go to BUILD_DIR/vm/levels.
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)

if [ "${1:-}" = --in-vm ]; then
    B=$2
    W=$PWD
    TORVANIX_SIM_STATE=$W/emu.state "$B/bin/torvanix-hid-emulator" --only 'vid_276d&pid_2238' \
        >"$W/emu.log" 2>&1 &
    EMU=$!
    for _ in $(seq 200); do grep -q '^ready' "$W/emu.log" && break; sleep 0.05; done
    grep -q '^ready' "$W/emu.log" || { echo "the emulator did not start" >&2; cat "$W/emu.log" >&2; exit 1; }
    "$B/tests/torvanix-vm-libcall" "$B/hidraw" levels "$W/go" >"$W/levels.out" 2>&1 &
    CALL=$!
    for _ in $(seq 200); do [ -s "$W/levels.out" ] && break; sleep 0.05; done
    # The emulated device's register 7 (level 30, status 2), as a test drains a simulated one.
    /usr/bin/python3 - "$W/emu.state" "$B/bin/sim-devices.json" <<'PYEOF'
import json, os, sys
path = next(d["path"] for d in json.load(open(sys.argv[2])) if "vid_276d&pid_2238" in d["path"])
json.dump({"devices": {path: {"registers": {"7": "1e02"}}}}, open(sys.argv[1] + ".new", "w"))
os.replace(sys.argv[1] + ".new", sys.argv[1])
PYEOF
    touch "$W/go"
    wait $CALL
    kill $EMU
    wait $EMU
    fail=0
    sed '/^--$/,$d' "$W/levels.out" >"$W/first.out"
    sed '1,/^--$/d' "$W/levels.out" >"$W/second.out"
    grep -q 'vid_276d&pid_2238.*col02.* 64 2$' "$W/first.out" ||
        { echo "first listing:" >&2; cat "$W/levels.out" >&2; fail=1; }
    grep -q 'vid_276d&pid_2238.*col02.* 30 2$' "$W/second.out" ||
        { echo "second listing kept the old level:" >&2; cat "$W/levels.out" >&2; fail=1; }
    exit $fail
fi

[ $# -eq 1 ] || { sed -n '2,5p' "$0" >&2; exit 2; }
B=$(realpath "$1")
W=$B/vm/levels
rm -rf "$W"
mkdir -p "$W"
cd "$W" && TORVANIX_VM_DIR=$B/vm "$ROOT/scripts/vm/run-in-vm.sh" "$W" "$HERE/hidraw_levels.sh" --in-vm "$B"
