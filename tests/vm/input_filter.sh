#!/usr/bin/env bash
# input_filter.sh BUILD_DIR
# The input filter on the kernel's own input devices inside the test VM:
# 1. as root: hot keys, the system's own devices, forwarding (grab, twin, notification blocks
#    through the simulated libraries' trace), devices that come and go, switching off, stop;
# 2. as an ordinary user without access to /dev/uinput, then with /dev/uinput but without
#    /dev/input: the filter ends at once and names the reason.
# Work files go to BUILD_DIR/vm/input.
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)

if [ "${1:-}" = --in-vm ]; then
    B=$2
    W=$PWD
    probe=$B/tests/torvanix-vm-input
    export TORVANIX_DEVICES_DIR=$B/bin TORVANIX_NO_PAUSE=1 TORVANIX_SIM_TRACE=$W/sim.trace
    fail=0
    "$probe" check || fail=1
    # An ordinary user: nobody may open /dev/uinput or the event devices (root only).
    as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/tmp "$@"; }
    as_user "$probe" noaccess >"$W/noaccess1.out" 2>&1 || fail=1
    cat "$W/noaccess1.out"
    grep -q 'reason: cannot open /dev/uinput' "$W/noaccess1.out" ||
        { echo "FAILED: the reason does not name /dev/uinput" >&2; fail=1; }
    chmod 666 /dev/uinput
    as_user "$probe" noaccess >"$W/noaccess2.out" 2>&1 || fail=1
    cat "$W/noaccess2.out"
    grep -q 'reason: no permission to read the input devices in /dev/input' "$W/noaccess2.out" ||
        { echo "FAILED: the reason does not name /dev/input" >&2; fail=1; }
    grep -c 'input filter off' "$W/noaccess2.out" | grep -qx 1 ||
        { echo "FAILED: not exactly one log line" >&2; fail=1; }
    chmod 600 /dev/uinput
    exit $fail
fi

[ $# -eq 1 ] || { sed -n '2,9p' "$0" >&2; exit 2; }
B=$(realpath "$1")
W=$B/vm/input
rm -rf "$W"
mkdir -p "$W"
chmod 777 "$W"
cd "$W" && TORVANIX_VM_DIR=$B/vm "$ROOT/scripts/vm/run-in-vm.sh" "$W" "$HERE/input_filter.sh" --in-vm "$B"
rc=$?
echo "hot keys, forwarding and access in the VM: $([ $rc = 0 ] && echo passed || echo FAILED)"
exit $rc
