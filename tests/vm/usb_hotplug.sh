#!/usr/bin/env bash
# usb_hotplug.sh BUILD_DIR
# Devices coming and going through the kernel, inside the test VM with udevd running:
# 1. The program's device monitor (torvanix-vm-watch) announces DevicesChanged when an
#    emulated device (uhid) is added and again when it is removed; the listing follows.
# 2. A USB device made by the kernel's gadget stack (dummy_hcd + configfs HID functions) has
#    real interface numbers: the hidraw libraries list every interface with its mi_ and col
#    parts, and torvanix-ctl list shows exactly the interfaces the catalogue chooses (a
#    special row's mi_00, a full record's col02 on mi_01), nothing else. Plugging the gadget
#    in and out is a DevicesChanged each way.
# 3. Frames over a real USB stack: the gadget's HID function cannot answer feature reports
#    (GET_REPORT gives zeros), so the second gadget's frame collection takes its requests as
#    output reports, answered by torvanix-hid-emulator --gadget on /dev/hidgN; it identifies,
#    and a document applied to it leaves the device trace the simulator leaves on the host.
#    Pulled out of its controller in the middle of a write, the call fails and returns.
# Work files: BUILD_DIR/vm/hotplug.
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)

if [ "${1:-}" = --in-vm ]; then
    B=$2
    W=$PWD
    fail=0
    bad() {
        echo "$*" >&2
        fail=1
    }
    command -v udevadm >/dev/null || { echo "udevadm is missing (scripts/deps.sh installs udev)" >&2; exit 1; }
    UDEVD=$(command -v systemd-udevd || echo /lib/systemd/systemd-udevd)
    "$UDEVD" --daemon 2>"$W/udevd.err" || { cat "$W/udevd.err" >&2; exit 1; }
    ctl() { "$B/bin/torvanix-ctl" --no-pause --devices "$B/hidraw" "$@"; }
    "$B/tests/torvanix-vm-watch" --devices "$B/hidraw" >"$W/watch.log" 2>"$W/watch.err" &
    WATCH=$!
    trap 'kill $WATCH $EMU 2>/dev/null; wait 2>/dev/null; udevadm control --exit 2>/dev/null' EXIT
    EMU=
    for _ in $(seq 100); do grep -q '^watching' "$W/watch.log" && break; sleep 0.05; done
    grep -q '^watching: udev yes' "$W/watch.log" || bad "the monitor does not watch udev: $(cat "$W/watch.log" "$W/watch.err")"
    # mark, then wait_change WHAT: until the monitor announces a change after the mark (at most
    # 10 s). Under the VM's slow CPU one device's notices can be spread over more than the
    # monitor's quiet time and make two announcements; the checks only need one.
    changes() { grep -c '^DevicesChanged' "$W/watch.log"; }
    mark() { # after the announcements of the last event are over
        MARK=$(changes)
        sleep 1
        while [ "$(changes)" != "$MARK" ]; do
            MARK=$(changes)
            sleep 1
        done
    }
    wait_change() {
        for _ in $(seq 200); do
            [ "$(changes)" -gt "$MARK" ] && return 0
            sleep 0.05
        done
        bad "no DevicesChanged after: $1; the monitor said: $(tr '\n' ' ' <"$W/watch.log")"
        return 1
    }

    # 1. uhid: in and out.
    mark
    "$B/bin/torvanix-hid-emulator" --only 'vid_4c4a&pid_4255' >"$W/emu.log" 2>&1 &
    EMU=$!
    wait_change "emulated device added"
    ctl list >"$W/uhid.list" 2>>"$W/ctl.err"
    grep -q 'vid_4c4a&pid_4255&mi_01&col02' "$W/uhid.list" || bad "the added device is not listed"
    mark
    kill $EMU
    wait $EMU
    EMU=
    wait_change "emulated device removed"
    ctl list >"$W/uhid.gone" 2>>"$W/ctl.err"
    grep -q 'vid_4c4a' "$W/uhid.gone" && bad "the removed device is still listed"

    # 2. USB gadgets on the dummy host controller.
    CFG=/sys/kernel/config
    mountpoint -q "$CFG" || mount -t configfs none "$CFG" || { bad "cannot mount configfs"; exit 1; }
    UDC=$(ls /sys/class/udc 2>/dev/null | head -1)
    [ -n "$UDC" ] || { bad "no USB device controller (dummy_hcd) in the VM"; exit 1; }
    "$B/bin/torvanix-hid-emulator" --print-descriptor 1 1 >"$W/frame1.desc" || bad "no descriptor"
    "$B/bin/torvanix-hid-emulator" --interrupt --print-descriptor 2 2 >"$W/frame2.desc" || bad "no descriptor"
    # A boot keyboard's report descriptor.
    printf '\x05\x01\x09\x06\xa1\x01\x05\x07\x19\xe0\x29\xe7\x15\x00\x25\x01\x75\x01\x95\x08\x81\x02\x95\x01\x75\x08\x81\x03\x95\x05\x75\x01\x05\x08\x19\x01\x29\x05\x91\x02\x95\x01\x75\x03\x91\x03\x95\x06\x75\x08\x15\x00\x25\x65\x05\x07\x19\x00\x29\x65\x81\x00\xc0' >"$W/keyboard.desc"

    # gadget NAME VID PID DESC... : one configuration, one HID function per descriptor, in
    # interface order.
    gadget() {
        local g=$CFG/usb_gadget/$1 vid=$2 pid=$3 i=0
        shift 3
        mkdir -p "$g/strings/0x409" "$g/configs/c.1/strings/0x409"
        echo "0x$vid" >"$g/idVendor"
        echo "0x$pid" >"$g/idProduct"
        echo "TVX$vid$pid" >"$g/strings/0x409/serialnumber"
        echo "Torvanix test gadget" >"$g/strings/0x409/product"
        echo "hid" >"$g/configs/c.1/strings/0x409/configuration"
        for desc in "$@"; do
            local f=$g/functions/hid.if$i
            mkdir -p "$f"
            if [ "$desc" = "$W/keyboard.desc" ]; then
                echo 1 >"$f/protocol"
                echo 1 >"$f/subclass"
                echo 8 >"$f/report_length"
            else
                echo 0 >"$f/protocol"
                echo 0 >"$f/subclass"
                echo 65 >"$f/report_length"
            fi
            cat "$desc" >"$f/report_desc"
            ln -s "$f" "$g/configs/c.1/"
            i=$((i + 1))
        done
    }
    # plug NAME / unplug NAME: bind to the controller and wait for the hidraw nodes / undo.
    plug() {
        mark
        echo "$UDC" >"$CFG/usb_gadget/$1/UDC"
        udevadm settle -t 10
    }
    unplug() {
        mark
        echo "" >"$CFG/usb_gadget/$1/UDC"
        udevadm settle -t 10
    }
    nodes() { ls /sys/class/hidraw 2>/dev/null | wc -l; }

    # A special row picks interface 0 of 0c45:8075; interface 1 (a keyboard) is not a device.
    gadget packet 0c45 8075 "$W/frame1.desc" "$W/keyboard.desc"
    plug packet
    wait_change "USB device plugged in"
    [ "$(nodes)" = 2 ] || bad "expected 2 hidraw nodes for 0c45:8075, found $(nodes)"
    "$B/tests/torvanix-vm-libcall" "$B/hidraw" list >"$W/packet.paths"
    grep -q '^\\\\?\\hid#vid_0c45&pid_8075&mi_00#usb_' "$W/packet.paths" ||
        bad "interface 0 not listed with its number: $(cat "$W/packet.paths")"
    grep -q '^\\\\?\\hid#vid_0c45&pid_8075&mi_01#usb_' "$W/packet.paths" ||
        bad "interface 1 not listed with its number: $(cat "$W/packet.paths")"
    ctl list >"$W/packet.list" 2>>"$W/ctl.err"
    [ "$(grep -o '"DevicePath"' "$W/packet.list" | wc -l)" = 1 ] &&
        grep -q 'vid_0c45&pid_8075&mi_00#[^"]*","Version":"0c458075"' "$W/packet.list" ||
        bad "the catalogue did not choose interface 0 alone: $(cat "$W/packet.list")"
    unplug packet
    wait_change "USB device unplugged"
    [ "$(nodes)" = 0 ] || bad "hidraw nodes left after the unplug"

    # A full record picks collection 2 of interface 1 of 4c4a:4255, which identifies through
    # the responder on the function's device file.
    gadget lighting 4c4a 4255 "$W/keyboard.desc" "$W/frame2.desc"
    plug lighting
    wait_change "second USB device plugged in"
    # The function's device file exists while the gadget is bound.
    hidg=
    for d in /sys/class/hidg/*; do
        [ "$(cat "$d/dev")" = "$(cat "$CFG/usb_gadget/lighting/functions/hid.if1/dev")" ] && hidg=/dev/${d##*/}
    done
    [ -c "$hidg" ] || bad "no device file for the gadget's second function"
    # Nobody answers its frames yet: listed, unidentified, and the listing does not hang.
    ctl list >"$W/silent.list" 2>>"$W/ctl.err"
    grep -q 'vid_4c4a&pid_4255&mi_01&col02#[^"]*","LastVersionNum":"",[^}]*"Version":""' "$W/silent.list" ||
        bad "the silent gadget is not listed unidentified: $(cat "$W/silent.list")"
    TORVANIX_SIM_TRACE=$W/gadget.trace "$B/bin/torvanix-hid-emulator" --gadget "$hidg" \
        --devices "$HERE/data/lighting-device.json" >"$W/gadget.log" 2>&1 &
    EMU=$!
    for _ in $(seq 200); do grep -q '^ready' "$W/gadget.log" && break; sleep 0.05; done
    "$B/tests/torvanix-vm-libcall" "$B/hidraw" list >"$W/lighting.paths"
    for want in 'mi_00#' 'mi_01&col01#' 'mi_01&col02#'; do
        grep -q "vid_4c4a&pid_4255&$want" "$W/lighting.paths" ||
            bad "no interface $want listed: $(cat "$W/lighting.paths")"
    done
    ctl list >"$W/lighting.list" 2>>"$W/ctl.err"
    [ "$(grep -o '"DevicePath"' "$W/lighting.list" | wc -l)" = 1 ] &&
        grep -q 'vid_4c4a&pid_4255&mi_01&col02#[^"]*","LastVersionNum":"6",[^}]*"Version":"WSU-DFO-V1.1.0"' "$W/lighting.list" ||
        bad "the catalogue did not choose interface 1's collection 2 alone, identified: $(cat "$W/lighting.list")"
    ctl apply "$ROOT/tests/translate/data/d2/g04_light_rgb.xml" >"$W/gadget.apply.out" 2>>"$W/ctl.err" ||
        bad "the document did not apply to the gadget"
    kill $EMU
    wait $EMU
    # Pulled out of the controller in the middle of a 640-byte write, after its fifth frame:
    # the call fails and returns, and the device is gone from the listing.
    "$B/bin/torvanix-hid-emulator" --gadget "$hidg" --unplug-after-frames 5 \
        --devices "$HERE/data/lighting-device.json" >"$W/pull.log" 2>&1 &
    EMU=$!
    path=$("$B/tests/torvanix-vm-libcall" "$B/hidraw" list | grep 'vid_4c4a&pid_4255&mi_01&col02')
    "$B/tests/torvanix-vm-libcall" "$B/hidraw" bench "$path" 1 640 >"$W/pull.out" 2>&1 &
    CALL=$!
    for _ in $(seq 200); do grep -q '^unplug now' "$W/pull.log" && break; sleep 0.05; done
    grep -q '^unplug now' "$W/pull.log" || bad "the write never reached its fifth frame: $(cat "$W/pull.out")"
    unplug lighting
    wait $CALL
    grep -q '(0 succeeded)' "$W/pull.out" || bad "the write survived the unplug: $(cat "$W/pull.out")"
    kill $EMU
    wait $EMU
    EMU=
    wait_change "second USB device unplugged"
    [ -z "$("$B/tests/torvanix-vm-libcall" "$B/hidraw" list)" ] || bad "still listed after the unplug"
    echo "$(changes) DevicesChanged for 6 plug events; gadget interfaces:"
    cat "$W/packet.paths" "$W/lighting.paths"
    exit $fail
fi

[ $# -eq 1 ] || { sed -n '2,17p' "$0" >&2; exit 2; }
B=$(realpath "$1")
W=$B/vm/hotplug
rm -rf "$W"
mkdir -p "$W"
# The simulator's half of the golden comparison, on the host, with the gadget's one device.
TORVANIX_SIM_DEVICES=$HERE/data/lighting-device.json TORVANIX_SIM_STATE=$W/sim.state TORVANIX_SIM_TRACE=$W/sim.trace "$B/bin/torvanix-ctl" --no-pause \
    apply "$ROOT/tests/translate/data/d2/g04_light_rgb.xml" >"$W/sim.apply.out" 2>"$W/sim.err" ||
    { echo "the simulator did not apply the document" >&2; exit 1; }
(cd "$W" && TORVANIX_VM_DIR=$B/vm "$ROOT/scripts/vm/run-in-vm.sh" "$W" "$HERE/usb_hotplug.sh" --in-vm "$B")
rc=$?
# The register device's calls only: the simulator also records the mouse library's closing
# call, which the hidraw library keeps to itself while no mouse was chosen.
calls() {
    grep -v -E '"call":"(dcDevices|dcDeviceExist)"|"lib":"(KBAccess|ByDevInterface)"' "$1" 2>/dev/null |
        sed -E 's/,"time":[0-9.eE+-]+//'
}
calls "$W/sim.trace" >"$W/sim.calls"
calls "$W/gadget.trace" >"$W/gadget.calls"
if [ ! -s "$W/sim.calls" ] || ! cmp -s "$W/sim.calls" "$W/gadget.calls"; then
    echo "the device traces differ (simulator < > USB gadget):" >&2
    diff "$W/sim.calls" "$W/gadget.calls" | head -20 >&2
    rc=1
fi
cmp -s "$W/sim.apply.out" "$W/gadget.apply.out" || { echo "the answers differ" >&2; rc=1; }
echo "$(wc -l <"$W/gadget.calls") device calls through the USB gadget equal to the simulator's: $([ $rc = 0 ] && echo yes || echo NO)"
exit $rc
