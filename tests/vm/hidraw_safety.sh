#!/usr/bin/env bash
# hidraw_safety.sh BUILD_DIR
# 1. A device that declares the frame report but answers identification wrongly is listed, yet
#    no frame but the identification request ever reaches it: not through a listing, any
#    writing library entry on its path, nor a configuration document. One process asks it
#    once, however many calls name it.
# 2. A device unplugged in the middle of a document's writes: the rest of the writes fail, the
#    program finishes, and the next listing no longer has it.
# 3. A device pulled out between the frames of one call: that call fails and returns.
# Runs its checks inside the test VM; work files go to BUILD_DIR/vm/safety.
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)

if [ "${1:-}" = --in-vm ]; then
    B=$2
    W=$PWD
    TORVANIX_SIM_TRACE=$W/emu.trace "$B/bin/torvanix-hid-emulator" --no-identify \
        --only 'vid_4c4a&pid_4255' >"$W/emu.log" 2>&1 &
    EMU=$!
    for _ in $(seq 200); do grep -q '^ready' "$W/emu.log" && break; sleep 0.05; done
    grep -q '^ready' "$W/emu.log" || { echo "the emulator did not start" >&2; cat "$W/emu.log" >&2; exit 1; }
    ctl() { env -u TORVANIX_SIM_TRACE "$B/bin/torvanix-ctl" --no-pause --devices "$B/hidraw" "$@"; }
    fail=0
    ctl list >"$W/list.out" 2>>"$W/ctl.err"
    grep -q 'vid_4c4a&pid_4255' "$W/list.out" || { echo "the device is not listed" >&2; cat "$W/list.out" >&2; fail=1; }
    # Every writing entry of the library, called on its path directly, must fail.
    path=$("$B/tests/torvanix-vm-libcall" "$B/hidraw" list | grep 'vid_4c4a&pid_4255&mi_01&col02')
    [ -n "$path" ] || { echo "the library does not list it" >&2; fail=1; }
    asked() { grep -c 'identification asked' "$W/emu.log"; }
    before=$(asked)
    "$B/tests/torvanix-vm-libcall" "$B/hidraw" write "$path" >"$W/libcall.out" 2>&1 ||
        { echo "an entry wrote to it:" >&2; cat "$W/libcall.out" >&2; fail=1; }
    [ $(($(asked) - before)) = 1 ] ||
        { echo "one process asked it to identify $(($(asked) - before)) times" >&2; fail=1; }
    ctl apply "$ROOT/tests/translate/data/d2/g04_light_rgb.xml" >>"$W/ops.out" 2>>"$W/ctl.err"
    kill $EMU
    wait $EMU
    grep -q '^frames after a failed identification: 0$' "$W/emu.log" ||
        { echo "frames reached the device:" >&2; cat "$W/emu.log" >&2; fail=1; }
    [ ! -s "$W/emu.trace" ] || { echo "the device model was called:" >&2; cat "$W/emu.trace" >&2; fail=1; }

    # The lighting device vanishes after its first call.
    TORVANIX_SIM_FAULTS='vanish:vid_4c4a@1' TORVANIX_SIM_STATE=$W/unplug.state \
        TORVANIX_SIM_TRACE=$W/unplug.trace "$B/bin/torvanix-hid-emulator" \
        --only 'vid_4c4a&pid_4255' >"$W/unplug.log" 2>&1 &
    EMU=$!
    for _ in $(seq 200); do grep -q '^ready' "$W/unplug.log" && break; sleep 0.05; done
    ctl apply "$ROOT/tests/translate/data/d2/g04_light_rgb.xml" >"$W/unplug.out" 2>>"$W/ctl.err"
    echo "apply ended with $? after the unplug" >>"$W/unplug.out"
    ctl list >"$W/unplug.list" 2>>"$W/ctl.err"
    kill $EMU
    wait $EMU
    grep -q 'vid_4c4a' "$W/unplug.list" && { echo "the unplugged device is still listed" >&2; fail=1; }
    [ "$(grep -c '"ret":1' "$W/unplug.trace")" -ge 1 ] ||
        { echo "no write reached the device before the unplug" >&2; fail=1; }

    # Pulled out in the middle of one call: after the fifth of the twelve frames that carry a
    # 640-byte write. The call fails, returns, and nothing is left listed.
    "$B/bin/torvanix-hid-emulator" --unplug-after-frames 5 --only 'vid_4c4a&pid_4255' \
        >"$W/pull.log" 2>&1 &
    EMU=$!
    for _ in $(seq 200); do grep -q '^ready' "$W/pull.log" && break; sleep 0.05; done
    path=$("$B/tests/torvanix-vm-libcall" "$B/hidraw" list | grep 'col02')
    "$B/tests/torvanix-vm-libcall" "$B/hidraw" bench "$path" 1 640 >"$W/pull.out" 2>&1
    grep -q '(0 succeeded)' "$W/pull.out" ||
        { echo "the write survived the unplug:" >&2; cat "$W/pull.out" >&2; fail=1; }
    "$B/tests/torvanix-vm-libcall" "$B/hidraw" list >"$W/pull.list"
    [ ! -s "$W/pull.list" ] || { echo "still listed after the unplug" >&2; fail=1; }
    kill $EMU
    wait $EMU
    exit $fail
fi

[ $# -eq 1 ] || { sed -n '2,6p' "$0" >&2; exit 2; }
B=$(realpath "$1")
W=$B/vm/safety
rm -rf "$W"
mkdir -p "$W"
cd "$W" && TORVANIX_VM_DIR=$B/vm "$ROOT/scripts/vm/run-in-vm.sh" "$W" "$HERE/hidraw_safety.sh" --in-vm "$B"
rc=$?
echo "unidentified device never written, unplug survived: $([ $rc = 0 ] && echo yes || echo FAILED)"
exit $rc
