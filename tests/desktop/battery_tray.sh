#!/usr/bin/env bash
# The battery of a wireless device drains and charges (register 7 rewritten in the simulator's
# state file): the tray tooltip and the device's Battery property on the core's D-Bus API
# follow each step through the level poll, and a stand-in notification service on a private
# session bus sees exactly two notices on the way down (low, then critical replacing it) and
# none on the way up.
# Argument: the program folder (the core and the simulated device libraries).
set -euo pipefail
PROGRAM_DIR=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
PY=/usr/bin/python3

if [ "${BATTERY_TRAY_BUS:-}" != 1 ]; then
    exec env BATTERY_TRAY_BUS=1 dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d)
service_pid=""
core_pid=""
cleanup() {
    [ -n "$core_pid" ] && kill "$core_pid" 2>/dev/null && wait "$core_pid" 2>/dev/null || true
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null || true
    [ -n "${KEEP_WORK:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    echo "--- notices" >&2; cat "$work/notices.jsonl" >&2 2>/dev/null || true
    echo "--- log" >&2; grep -a "tray tooltip\|Error" "$log" >&2 2>/dev/null | tail -20 || true
    exit 1
}

# The wireless mouse of the demo set ("Torvanix Swift 6", connection status 2).
DEVICE='\\?\hid#vid_276d&pid_2238&mi_01&col02#7&4d5e6f70&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}'
MODEL="Torvanix Swift 6"

# Level and connection status into register 7, under the simulator's own lock.
set_power() {
    "$PY" - "$work/state.json" "$DEVICE" "$1" "$2" <<'PYEOF'
import fcntl, json, os, sys
state, path, level, status = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
with open(state + ".lock", "a+") as lock:
    fcntl.flock(lock, fcntl.LOCK_EX)
    try:
        with open(state) as f:
            data = json.load(f)
    except FileNotFoundError:
        data = {}
    dev = data.setdefault("devices", {}).setdefault(path, {})
    dev.setdefault("registers", {})["7"] = "%02x%02x" % (level, status)
    with open(state + ".new", "w") as f:
        json.dump(data, f)
    os.replace(state + ".new", state)
PYEOF
}

# The newest tooltip in the log.
tooltip() { grep -a "tray tooltip:" "$log" 2>/dev/null | tail -n 1 | sed 's/.*tray tooltip: //'; }
wait_tooltip() {
    for _ in $(seq 1 200); do
        case "$(tooltip)" in *"$1"*) return 0 ;; esac
        sleep 0.1
    done
    fail "the tooltip never showed \"$1\" (last: $(tooltip))"
}
# "Battery Charging" of the device on the core's D-Bus API.
dbus_battery() {
    "$PY" - <<'PYEOF'
import dbus
root = dbus.SessionBus().get_object("org.torvanix.Torvanix", "/org/torvanix/Torvanix")
objects = root.GetManagedObjects(dbus_interface="org.freedesktop.DBus.ObjectManager")
for props in objects.values():
    p = props.get("org.torvanix.Torvanix.Device", {})
    if p.get("Identity") == "HJE-XAV-V1.2.0":
        print(int(p.get("Battery", -1)), "charging" if p.get("Charging") else "-")
PYEOF
}
expect_dbus() {
    [ "$(dbus_battery)" = "$1" ] || fail "the D-Bus Battery property says \"$(dbus_battery)\", not \"$1\""
}
notices() { [ -f "$work/notices.jsonl" ] && wc -l <"$work/notices.jsonl" || echo 0; }

"$PY" "$HERE/notification_service.py" "$work/notices.jsonl" >"$work/service.out" &
service_pid=$!
for _ in $(seq 1 100); do grep -q ready "$work/service.out" 2>/dev/null && break; sleep 0.1; done
grep -q ready "$work/service.out" || fail "the stand-in notification service did not start"

# The core in the background, as the session starts it: no window.
mkdir -p "$work/run" "$work/tmp" "$work/home" "$work/state/torvanix"
chmod 700 "$work/run"
touch "$work/state/torvanix/first-start-done"
cp "$PROGRAM_DIR/sim-devices.json" "$work/devices.json"
set_power 100 2
log="$work/run/torvanix/ozk.log"
env HOME="$work/home" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp" \
    XDG_STATE_HOME="$work/state" XDG_CONFIG_HOME="$work/home/.config" \
    TORVANIX_CORE_SETTINGS="$work/core-settings.json" TORVANIX_SIM_DEVICES="$work/devices.json" \
    TORVANIX_SIM_STATE="$work/state.json" TORVANIX_BATTERY_POLL_MS=200 TORVANIX_NO_PAUSE=1 \
    QT_QPA_PLATFORM=offscreen "$PROGRAM_DIR/torvanix" --background --devices "$PROGRAM_DIR" \
    >"$work/core.out" 2>&1 &
core_pid=$!

# Every device with a level: from the records, and the keyboard that answers a power query.
wait_tooltip "$MODEL: 100 %"
wait_tooltip "Torvanix Pulse 104: 87 %"
case "$(tooltip)" in
    "Torvanix | "*"Torvanix Glide 6: 85 %"*) ;;
    *) fail "unexpected tooltip: $(tooltip)" ;;
esac

expect_notices() {
    # A notice is sent after the reading the tooltip shows; give it the time of a few polls.
    sleep 0.6
    [ "$(notices)" -eq "$1" ] || fail "after $2 %: $(notices) notices, expected $1"
}
for step in 60:0 20:0 15:1 10:1 6:1 5:2 3:2; do
    set_power "${step%%:*}" 2
    wait_tooltip "$MODEL: ${step%%:*} %"
    expect_dbus "${step%%:*} -"
    expect_notices "${step##*:}" "${step%%:*}"
done
for step in 4 10 15 16 50 100; do
    set_power "$step" 2
    wait_tooltip "$MODEL: $step %"
    expect_dbus "$step -"
    expect_notices 2 "$step"
done

# On its cable below full it charges.
set_power 50 1
wait_tooltip "$MODEL: 50 %, charging"
expect_dbus "50 charging"

"$PY" - "$work/notices.jsonl" <<'PYEOF' || fail "the notices are not low then critical replacing it"
import json, sys
n = [json.loads(l) for l in open(sys.argv[1])]
assert len(n) == 2, n
low, critical = n
assert low["app"] == "Torvanix" and low["replaces"] == 0 and "low" in low["summary"], low
assert "15 %" in low["body"], low
assert critical["replaces"] == low["id"] and critical["urgency"] == 2, critical
assert "5 %" in critical["body"] and "Torvanix Swift 6" in critical["summary"], critical
PYEOF
echo "battery tray and notices: ok"
