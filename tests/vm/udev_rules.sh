#!/usr/bin/env bash
# udev_rules.sh BUILD_DIR
# The rules torvanix-ctl udev-rules generates from the catalogue give the hidraw node of the
# interface the program uses of a supported device the uaccess tag (the logged-in user may
# open it), and leave that keyboard's typing interface and a device outside the catalogue
# alone, as udevadm test shows inside the test VM; a user who may not open a node is told
# which rules to install. The libraries ask no device outside the catalogue to identify.
# Work files: BUILD_DIR/vm/udev.
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)

if [ "${1:-}" = --in-vm ]; then
    B=$2
    W=$PWD
    command -v udevadm >/dev/null || { echo "udevadm is missing (scripts/deps.sh installs udev)" >&2; exit 1; }
    mkdir -p /run/udev/rules.d
    "$B/bin/torvanix-ctl" udev-rules >/run/udev/rules.d/70-torvanix.rules || exit 1
    "$B/bin/torvanix-hid-emulator" --devices "$HERE/data/rules-devices.json" >"$W/emu.log" 2>&1 &
    EMU=$!
    for _ in $(seq 200); do grep -q '^ready' "$W/emu.log" && break; sleep 0.05; done
    fail=0
    for node in /sys/class/hidraw/*; do
        id="$(grep HID_ID "$node/device/uevent") $(grep HID_PHYS "$node/device/uevent")"
        udevadm test "$node" >"$W/${node##*/}.test" 2>&1
        tagged=no
        grep -q '^TAGS=.*:uaccess:' "$W/${node##*/}.test" && tagged=yes
        echo "$id uaccess=$tagged"
        case "$id:$tagged" in
        *0000258A:00000013\ *input1:yes | *0000258A:00000013\ *input0:no | *00001234:00005678\ *:no) ;;
        *) fail=1 ;;
        esac
    done
    "$B/tests/torvanix-vm-libcall" "$B/hidraw" list >"$W/root.list"
    grep -q 'identification asked of .*vid_258a&pid_0013&mi_01' "$W/emu.log" ||
        { echo "the supported device was not asked to identify:" >&2; cat "$W/emu.log" >&2; fail=1; }
    grep 'identification asked of .*vid_1234' "$W/emu.log" >&2 &&
        { echo "a device outside the catalogue was asked to identify" >&2; fail=1; }
    # Without the rules in force the nodes stay root's: an ordinary user's listing says which
    # rule to install instead of failing silently.
    setpriv --reuid=65534 --regid=65534 --clear-groups \
        "$B/bin/torvanix-ctl" --no-pause --devices "$B/hidraw" list >"$W/user.list" 2>"$W/user.err"
    grep -q 'no permission to open /dev/hidraw.*udev-rules' "$W/user.err" ||
        { echo "no word about the missing permission:" >&2; cat "$W/user.err" >&2; fail=1; }
    kill $EMU
    wait $EMU
    exit $fail
fi

[ $# -eq 1 ] || { sed -n '2,6p' "$0" >&2; exit 2; }
B=$(realpath "$1")
W=$B/vm/udev
rm -rf "$W"
mkdir -p "$W"
cd "$W" && TORVANIX_VM_DIR=$B/vm "$ROOT/scripts/vm/run-in-vm.sh" "$W" "$HERE/udev_rules.sh" --in-vm "$B"
