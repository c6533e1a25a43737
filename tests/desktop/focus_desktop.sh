#!/usr/bin/env bash
# Profiles follow the application in front, end to end: the core runs on the simulated devices
# under a real desktop, the focus moves between two applications, and the simulator's trace
# must show one profile switch of the keyboard per settled change of application and none for
# focusing the same application again.
#   focus_desktop.sh x11 PROGRAM_DIR    Xvfb + openbox, xcalc and xlogo, focus by xdotool
#   focus_desktop.sh sway PROGRAM_DIR   headless sway, two foot terminals, focus by swaymsg
#   focus_desktop.sh dbus PROGRAM_DIR   no desktop: SetActiveApplication on the session bus, and
#                                       a notice for each switch
# Exit 77: what the desktop needs is not installed (ctest shows the test as skipped).
set -euo pipefail

mode=$1
bin=$(cd "$2" && pwd)
keyboard=TOB-NIR-V1.2.0
# The keyboard's profile slot is register 5 of its interface: the write the switch makes.
switches() { grep -c '"call":"dcWriteProperty".*pid_0013.*"arg":5,' "$W/trace.jsonl" || true; }
atLeast() { [ "$(switches)" -ge "$1" ]; }
lastProfile() {
    grep '"call":"dcWriteProperty".*pid_0013.*"arg":5,' "$W/trace.jsonl" | tail -1 |
        sed -n 's/.*"bytes":"\([0-9a-f]*\)".*/\1/p'
}

need() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
}

W=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    if [ "${keep:-0}" = 1 ]; then echo "kept $W"; else rm -rf "$W"; fi
}
trap cleanup EXIT
fail() {
    keep=1
    echo "FAIL: $*"
    echo "--- core output"
    grep -v '^\[' "$W/core.out" 2>/dev/null | tail -40 || true
    echo "--- trace (profile writes)"
    grep '"arg":5,' "$W/trace.jsonl" 2>/dev/null || true
    exit 1
}
waitFor() { # seconds, command...
    local limit=$(($1 * 10))
    shift
    for ((i = 0; i < limit; i++)); do
        if "$@"; then return 0; fi
        sleep 0.1
    done
    return 1
}

mkdir -p "$W/rt" "$W/state/torvanix" "$W/config"
chmod 700 "$W/rt"
touch "$W/state/torvanix/first-start-done"

case $mode in
x11)
    need Xvfb openbox xdotool xcalc xlogo
    first=XCalc second=XLogo source="X11 active window"
    # The class for one, the instance (other case) for the other.
    rules='[{"app":"XCalc","profiles":{"'$keyboard'":2}},{"app":"XLOGO","profiles":{"'$keyboard'":3}}]'
    # Xvfb picks a free display itself: tests run side by side.
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$W/display" >"$W/xvfb.log" 2>&1 &
    pids+=($!)
    waitFor 10 grep -q '[0-9]' "$W/display" || fail "Xvfb did not start"
    export DISPLAY=:$(tr -dc 0-9 <"$W/display")
    openbox >"$W/openbox.log" 2>&1 &
    pids+=($!)
    xcalc >/dev/null 2>&1 &
    pids+=($!)
    xlogo >/dev/null 2>&1 &
    pids+=($!)
    windowOf() { xdotool search --onlyvisible --class "$1" 2>/dev/null | head -1; }
    windowsUp() { [ -n "$(windowOf XCalc)" ] && [ -n "$(windowOf XLogo)" ]; }
    waitFor 10 windowsUp || fail "the windows did not appear"
    focus() { xdotool windowactivate --sync "$(windowOf "$1")" 2>/dev/null; }
    ;;
sway)
    need sway swaymsg foot
    first=alpha second=beta source="wlroots window list"
    rules='[{"app":"alpha","profiles":{"'$keyboard'":2}},{"app":"beta","profiles":{"'$keyboard'":3}}]'
    unset DISPLAY
    # sway refuses to run as root; the compositor gets a folder of its own as nobody.
    mkdir -p "$W/sway"
    printf 'output HEADLESS-1 resolution 1024x768\nxwayland disable\n' >"$W/sway.conf"
    chmod 755 "$W"
    chmod 644 "$W/sway.conf"
    run_sway=(sway -c "$W/sway.conf")
    if [ "$(id -u)" = 0 ]; then
        chown nobody "$W/sway"
        run_sway=(setpriv --reuid=nobody --regid=nogroup --clear-groups "${run_sway[@]}")
    fi
    chmod 700 "$W/sway"
    env XDG_RUNTIME_DIR="$W/sway" HOME="$W/sway" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
        WLR_RENDERER=pixman "${run_sway[@]}" >"$W/sway.log" 2>&1 &
    pids+=($!)
    waitFor 20 sh -c "ls '$W/sway' | grep -q '^wayland-[0-9]*\$' && ls '$W'/sway/sway-ipc.* >/dev/null 2>&1" ||
        fail "sway did not start: $(tail -5 "$W/sway.log")"
    export WAYLAND_DISPLAY=$W/sway/$(ls "$W/sway" | grep '^wayland-[0-9]*$' | head -1)
    export SWAYSOCK=$(ls "$W"/sway/sway-ipc.* | head -1)
    for id in alpha beta; do
        XDG_RUNTIME_DIR=$W/sway foot --app-id=$id -- sleep 600 >"$W/foot-$id.log" 2>&1 &
        pids+=($!)
    done
    waitFor 20 sh -c 'swaymsg -t get_tree | grep -q "\"app_id\": \"alpha\"" &&
        swaymsg -t get_tree | grep -q "\"app_id\": \"beta\""' || fail "the terminals did not appear"
    focus() { swaymsg "[app_id=\"$1\"] focus" >/dev/null; }
    ;;
dbus)
    need dbus-daemon /usr/bin/python3
    /usr/bin/python3 -c 'import dbus, gi' 2>/dev/null || { echo "SKIP: python3-dbus or python3-gi missing"; exit 77; }
    grep -q SetActiveApplication "$bin/torvanix" || { echo "SKIP: the core has no D-Bus API"; exit 77; }
    first=org.example.Alpha second=beta.desktop
    rules='[{"app":"alpha","profiles":{"'$keyboard'":2}},{"app":"beta","profiles":{"'$keyboard'":3}}]'
    unset DISPLAY WAYLAND_DISPLAY
    eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 |
        { read -r a; read -r p; echo "export DBUS_SESSION_BUS_ADDRESS='$a'; dbus_pid=$p"; })"
    pids+=("$dbus_pid")
    # The switches' notices are asked for here: a stand-in notification service records them.
    notify=true
    /usr/bin/python3 "$(dirname "$0")/notification_service.py" "$W/notices.jsonl" >"$W/notices.out" 2>&1 &
    pids+=($!)
    waitFor 20 grep -q ready "$W/notices.out" || fail "no stand-in notification service"
    focus() {
        /usr/bin/python3 - "$1" <<'EOF'
import sys, dbus
bus = dbus.SessionBus()
root = bus.get_object("org.torvanix.Torvanix", "/org/torvanix/Torvanix")
root.SetActiveApplication(sys.argv[1], dbus_interface="org.torvanix.Torvanix")
EOF
    }
    ;;
*)
    echo "usage: $0 x11|sway|dbus PROGRAM_DIR" >&2
    exit 2
    ;;
esac

# A known start: the first application is in front when the core comes up (its switch, if the
# keyboard is not on that profile yet, is counted before the steps).
[ "$mode" = dbus ] || focus "$first"

cat >"$W/settings.json" <<EOF
{"focus": {"enabled": true, "notify": ${notify:-false}, "rules": $rules}}
EOF

env TMPDIR="$W" XDG_STATE_HOME="$W/state" XDG_RUNTIME_DIR="$W/rt" XDG_CONFIG_HOME="$W/config" \
    QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 TORVANIX_NO_PAUSE=1 \
    TORVANIX_CORE_SETTINGS="$W/settings.json" TORVANIX_SIM_TRACE="$W/trace.jsonl" \
    TORVANIX_SIM_STATE="$W/sim.state" TORVANIX_DEVICES_DIR="$bin" \
    QT_LOGGING_RULES="torvanix.focus.info=true" \
    "$bin/torvanix" --background >"$W/core.out" 2>&1 &
pids+=($!)
core=$!
touch "$W/trace.jsonl"
if [ "$mode" = dbus ]; then
    waitFor 60 sh -c "grep -q 'following only what desktop scripts report' '$W/core.out'" ||
        fail "the core did not start following"
else
    waitFor 60 grep -qF "following the application in front ($source)" "$W/core.out" ||
        fail "the core did not start following"
fi
# The keyboard is known once the core's first device read has found it.
waitFor 60 grep -q '"call":"dcDevices"' "$W/trace.jsonl" || fail "no device read"
if [ "$mode" != dbus ]; then
    waitFor 20 grep -q "$first in front" "$W/core.out" || fail "the core did not see $first in front"
fi
sleep 1.5

# Each step: the application, then the switches expected since the start and the profile last
# written (the first rule sets 2, the second 3). Focusing the same application again switches
# nothing.
step() {
    focus "$1"
    local want=$((base + $2))
    waitFor 20 atLeast "$want" || fail "after focusing $1: $(switches) switches, not $want"
    sleep 1 # well past the 300 ms settle time: nothing more may follow
    [ "$(switches)" = "$want" ] || fail "after focusing $1: $(switches) switches, not $want"
    [ "$(lastProfile)" = "$3" ] || fail "after focusing $1: profile $(lastProfile), not $3"
}
base=$(switches)
step "$second" 1 03
step "$first" 2 02
step "$first" 2 02
step "$second" 3 03
if [ "$mode" = dbus ]; then
    # One notice per switch, naming the application, the device and the profile.
    waitFor 10 sh -c "[ \$(grep -c 'Profile for' '$W/notices.jsonl') -ge 3 ]" || fail "no notices"
    [ "$(grep -c 'Profile for' "$W/notices.jsonl")" = 3 ] || fail "not one notice per switch"
    tail -1 "$W/notices.jsonl" | grep -q '"summary": "Profile for beta.desktop", "body": "[^"]*: profile 3"' ||
        fail "the last notice: $(tail -1 "$W/notices.jsonl")"
fi
kill "$core"
echo "focus $mode: 3 switches for 3 changes of application"
