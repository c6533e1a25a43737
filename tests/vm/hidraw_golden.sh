#!/usr/bin/env bash
# Runs inside the test VM (scripts/vm/run-in-vm.sh), in a writable work folder:
#   hidraw_golden.sh BUILD_DIR DOCUMENT...
# Serves the demo device set as uhid devices with torvanix-hid-emulator, runs torvanix-ctl
# list and apply DOCUMENT... through the hidraw libraries, then the same commands on the
# simulator's libraries, and requires both device traces to be equal (the listing call aside,
# which the emulated path answers from identification).
set -uo pipefail
B=$(realpath "$1")
shift
W=$PWD
rm -f "$W"/emu.* "$W"/sim.* "$W"/*.out
[ -e /dev/uhid ] || { echo "no /dev/uhid: run this inside the test VM" >&2; exit 2; }

TORVANIX_SIM_STATE=$W/emu.state TORVANIX_SIM_TRACE=$W/emu.trace \
    "$B/bin/torvanix-hid-emulator" >"$W/emu.log" 2>&1 &
EMU=$!
trap 'kill $EMU 2>/dev/null; wait $EMU 2>/dev/null' EXIT
for _ in $(seq 200); do grep -q '^ready' "$W/emu.log" && break; sleep 0.05; done
grep -q '^ready' "$W/emu.log" || { echo "the emulator did not start:" >&2; cat "$W/emu.log" >&2; exit 1; }

ctl() { # ctl KIND ARGS...: KIND hid or sim
    local kind=$1
    shift
    if [ "$kind" = hid ]; then
        env -u TORVANIX_SIM_STATE -u TORVANIX_SIM_TRACE \
            "$B/bin/torvanix-ctl" --no-pause --devices "$B/hidraw" "$@"
    else
        TORVANIX_SIM_STATE=$W/sim.state TORVANIX_SIM_TRACE=$W/sim.trace \
            "$B/bin/torvanix-ctl" --no-pause "$@"
    fi
}

fail=0
for kind in hid sim; do
    ctl $kind list >"$W/$kind.list.out" || { echo "$kind: list failed" >&2; fail=1; }
    for doc in "$@"; do
        ctl $kind apply "$doc" >>"$W/$kind.apply.out" 2>>"$W/$kind.err" ||
            { echo "$kind: apply $(basename "$doc") failed" >&2; fail=1; }
    done
done

versions() { grep -o '"Version":"[^"]*"' "$1" | sort; }
if [ "$(versions "$W/hid.list.out")" != "$(versions "$W/sim.list.out")" ]; then
    echo "the listings differ:" >&2
    diff <(versions "$W/sim.list.out") <(versions "$W/hid.list.out") >&2
    fail=1
fi
if ! diff -q "$W/sim.apply.out" "$W/hid.apply.out" >/dev/null; then
    echo "the answers differ:" >&2
    diff "$W/sim.apply.out" "$W/hid.apply.out" | head -20 >&2
    fail=1
fi
grep -v '"call":"dcDevices"' "$W/sim.trace" >"$W/sim.calls"
grep -v '"call":"dcDevices"' "$W/emu.trace" >"$W/emu.calls"
if ! diff -q "$W/sim.calls" "$W/emu.calls" >/dev/null; then
    echo "the device traces differ (simulator < > emulated):" >&2
    diff "$W/sim.calls" "$W/emu.calls" | head -40 >&2
    fail=1
fi
echo "$(wc -l <"$W/emu.calls") device calls compared, $# documents: $([ $fail = 0 ] && echo equal || echo DIFFERENT)"
exit $fail
