#!/usr/bin/env bash
# hidraw_golden.sh BUILD_DIR STEP...
# Golden equality of the two device paths: torvanix-ctl list and the STEPs run once on the
# simulator's libraries (here, on the host) and once inside the test VM through the hidraw
# libraries against torvanix-hid-emulator serving the same device set over uhid. The device
# traces must be equal (the listing and boot-loader search aside, which the emulated path
# answers from identification), and so must the listed identities and the printed answers.
# A STEP is a configuration document (apply), macro:IDENTITY:FILE (the macro list in FILE
# written to that device, as the page's NoticeMacoModify), or fw:IDENTITY, a firmware update of
# that device with a generated image (on the hidraw side it keeps the program's pauses, which
# give the device time to come back from its boot loader), or lib:kb / lib:ms, every entry of
# the keyboard or mouse access library called once directly.
# Work files go to BUILD_DIR/vm/NAME (NAME: TORVANIX_VM_TEST, default golden).
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)

ctl() { # ctl KIND ARGS...: KIND hid or sim
    local kind=$1
    shift
    if [ "$kind" = hid ]; then
        local pause=--no-pause
        [ "$1" = --pause ] && { pause=; shift; }
        [ "$1" = --no-pause ] && shift
        env -u TORVANIX_SIM_STATE -u TORVANIX_SIM_TRACE \
            "$B/bin/torvanix-ctl" $pause --devices "$B/hidraw" "$@"
    else
        [ "$1" = --no-pause ] && shift
        TORVANIX_SIM_STATE=$W/sim.state TORVANIX_SIM_TRACE=$W/sim.trace \
            "$B/bin/torvanix-ctl" --no-pause "$@"
    fi
}

libcall() { # libcall KIND ARGS...: a device access library's entries called directly
    local kind=$1
    shift
    if [ "$kind" = hid ]; then
        env -u TORVANIX_SIM_STATE -u TORVANIX_SIM_TRACE "$B/tests/torvanix-vm-libcall" "$B/hidraw" "$@"
    else
        TORVANIX_SIM_STATE=$W/sim.state TORVANIX_SIM_TRACE=$W/sim.trace \
            "$B/tests/torvanix-vm-libcall" "$B/bin" "$@"
    fi
}

run_commands() { # run_commands KIND DOCUMENT...
    local kind=$1 fail=0
    shift
    ctl "$kind" list >"$W/$kind.list.out" 2>>"$W/$kind.err" || { echo "$kind: list failed" >&2; fail=1; }
    for step in "$@"; do
        case "$step" in
        fw:*)
            local pause=--no-pause
            [ "$kind" = hid ] && pause=--pause
            ctl "$kind" $pause call "$(printf '{"FuncName":"ExecuteUpdateFirmware","Version":"%s","FilePath":"%s"}' \
                "${step#fw:}" "$W/firmware.bin")" >>"$W/$kind.apply.out" 2>>"$W/$kind.err" ||
                { echo "$kind: firmware update of ${step#fw:} failed" >&2; fail=1; }
            ;;
        lib:*)
            libcall "$kind" "${step#lib:}" >>"$W/$kind.apply.out" 2>>"$W/$kind.err" ||
                { echo "$kind: the ${step#lib:} library entries failed" >&2; fail=1; }
            ;;
        macro:*)
            local rest=${step#macro:}
            ctl "$kind" macro "${rest%%:*}" - <"${rest#*:}" >>"$W/$kind.apply.out" 2>>"$W/$kind.err" ||
                { echo "$kind: macro for ${rest%%:*} failed" >&2; fail=1; }
            ;;
        *)
            ctl "$kind" apply "$step" >>"$W/$kind.apply.out" 2>>"$W/$kind.err" ||
                { echo "$kind: apply $(basename "$step") failed" >&2; fail=1; }
            ;;
        esac
    done
    return $fail
}

if [ "${1:-}" = --in-vm ]; then # the guest's half
    shift
    B=$1
    shift
    W=$PWD
    [ -e /dev/uhid ] || { echo "no /dev/uhid in the VM" >&2; exit 2; }
    TORVANIX_SIM_STATE=$W/emu.state TORVANIX_SIM_TRACE=$W/emu.trace \
        "$B/bin/torvanix-hid-emulator" >"$W/emu.log" 2>&1 &
    EMU=$!
    trap 'kill $EMU 2>/dev/null; wait $EMU 2>/dev/null' EXIT
    for _ in $(seq 200); do grep -q '^ready' "$W/emu.log" && break; sleep 0.05; done
    grep -q '^ready' "$W/emu.log" || { echo "the emulator did not start:" >&2; cat "$W/emu.log" >&2; exit 1; }
    run_commands hid "$@"
    exit $?
fi

[ $# -ge 1 ] || { sed -n '2,9p' "$0" >&2; exit 2; }
B=$(realpath "$1")
shift
DOCS=()
for d in "$@"; do
    case "$d" in
    fw:* | lib:*) DOCS+=("$d") ;;
    macro:*)
        m=${d#macro:}
        DOCS+=("macro:${m%%:*}:$(realpath "${m#*:}")")
        ;;
    *) DOCS+=("$(realpath "$d")") ;;
    esac
done
W=$B/vm/${TORVANIX_VM_TEST:-golden}
rm -rf "$W"
mkdir -p "$W"
# A firmware image: format mark 4118, a 4000-byte payload of varying bytes, its length.
perl -e 'my $f = "\0" x 67200;
    substr($f, 0, 4) = pack("V", 4118);
    substr($f, 264, 4000) = pack("C*", map { ($_ * 7 + 3) % 256 } 0 .. 3999);
    substr($f, 66143, 8) = pack("VV", 4000, 0);
    print $f' >"$W/firmware.bin"
fail=0
run_commands sim "${DOCS[@]}" || fail=1
(cd "$W" && TORVANIX_VM_DIR=$B/vm "$ROOT/scripts/vm/run-in-vm.sh" "$W" "$HERE/hidraw_golden.sh" \
    --in-vm "$B" "${DOCS[@]}") || { echo "the VM half failed" >&2; fail=1; }

versions() { grep -o '"Version":"[^"]*"' "$1" | sort; }
if [ "$(versions "$W/hid.list.out")" != "$(versions "$W/sim.list.out")" ]; then
    echo "the listings differ (simulator < > hidraw):" >&2
    diff <(versions "$W/sim.list.out") <(versions "$W/hid.list.out") >&2
    fail=1
fi
if ! cmp -s "$W/sim.apply.out" "$W/hid.apply.out"; then
    echo "the answers differ (simulator < > hidraw):" >&2
    diff "$W/sim.apply.out" "$W/hid.apply.out" | head -20 >&2
    fail=1
fi
# Each trace line carries its wall-clock time, which differs between the two runs by nature.
calls() { grep -v -E '"call":"(dcDevices|dcDeviceExist)"' "$1" 2>/dev/null | sed -E 's/,"time":[0-9.eE+-]+//'; }
calls "$W/sim.trace" >"$W/sim.calls"
calls "$W/emu.trace" >"$W/emu.calls"
if ! cmp -s "$W/sim.calls" "$W/emu.calls"; then
    echo "the device traces differ (simulator < > emulated):" >&2
    diff "$W/sim.calls" "$W/emu.calls" | head -40 >&2
    fail=1
fi
[ -s "$W/sim.calls" ] || { echo "no device call was traced" >&2; fail=1; }
echo "$(wc -l <"$W/emu.calls") device calls compared over ${#DOCS[@]} documents: $([ $fail = 0 ] && echo equal || echo DIFFERENT)"
exit $fail
