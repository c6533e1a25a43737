#!/usr/bin/env bash
# Installs the build tree into a staging folder with prefix /usr (as the package does) and
# checks the layout, the generated udev rules, the desktop entry and AppStream data, and that
# the staged programs run from there and load their device libraries from the staged folders.
set -uo pipefail
BUILD=$(cd "$1" && pwd)
STAGE=$2
rm -rf "$STAGE"
mkdir -p "$STAGE"
if ! DESTDIR="$STAGE" cmake --install "$BUILD" --prefix /usr >"$STAGE/install.log" 2>&1; then
    echo "cmake --install failed:" >&2
    cat "$STAGE/install.log" >&2
    exit 1
fi
R=$STAGE/usr
P=$R/lib/torvanix
APP=org.torvanix.Torvanix
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

for f in torvanix-ctl hidraw/libUsbInterface.so hidraw/libKBAccess.so \
    hidraw/libByDevInterface.so hidraw/libtorvanix_hidcore.so simulator/libUsbInterface.so \
    simulator/libKBAccess.so simulator/libByDevInterface.so simulator/libtorvanix_simcore.so \
    simulator/sim-devices.json; do
    [ -f "$P/$f" ] || bad "missing lib/torvanix/$f"
done
# The music player module, loaded by the program from its folder.
if [ -f "$BUILD/bin/libtorvanix-music.so" ]; then
    [ -f "$P/libtorvanix-music.so" ] || bad "missing lib/torvanix/libtorvanix-music.so"
fi
# The desktop program and its helpers exist only in builds with the browser.
if [ -x "$BUILD/bin/torvanix" ]; then
    for f in torvanix torvanix-ui torvanix-imgconv torvanix-updater theme/theme.pak; do
        [ -f "$P/$f" ] || bad "missing lib/torvanix/$f"
    done
    [ "$(readlink "$R/bin/torvanix")" = ../lib/torvanix/torvanix ] || bad "bin/torvanix is no link to the program"
    for f in applications/$APP.desktop metainfo/$APP.metainfo.xml \
        icons/hicolor/scalable/apps/$APP.svg icons/hicolor/48x48/apps/$APP.png \
        icons/hicolor/128x128/apps/$APP.png icons/hicolor/256x256/apps/$APP.png; do
        [ -f "$R/share/$f" ] || bad "missing share/$f"
    done
    # The session bus starts the installed core by its absolute path.
    SERVICE=$R/share/dbus-1/services/$APP.service
    if [ -f "$SERVICE" ]; then
        grep -qx "Name=$APP" "$SERVICE" || bad "the D-Bus service file names another bus name"
        grep -qx "Exec=/usr/lib/torvanix/torvanix --background" "$SERVICE" ||
            bad "the D-Bus service file does not start /usr/lib/torvanix/torvanix in the background: $(grep Exec= "$SERVICE")"
    else
        bad "missing share/dbus-1/services/$APP.service"
    fi
fi
[ "$(readlink "$R/bin/torvanix-ctl")" = ../lib/torvanix/torvanix-ctl ] || bad "bin/torvanix-ctl is no link to the program"
[ -x "$R/bin/torvanix-ctl" ] || bad "bin/torvanix-ctl does not resolve to a program"
# Nothing of the build's own folders may be needed at run time.
while IFS= read -r elf; do
    if readelf -d "$elf" 2>/dev/null | grep -E 'R(UN)?PATH' | grep -q "$BUILD"; then
        bad "$elf looks for libraries in the build tree"
    fi
done < <(find "$R" -type f \( -name '*.so' -o -perm -u+x \))
unexpected=$(find "$R" -type f | sed "s|^$R/||" | grep -Ev '^(lib/torvanix/|lib/udev/rules.d/70-torvanix.rules$|share/(applications|metainfo|icons/hicolor|dbus-1/services)/)' || true)
[ -z "$unexpected" ] || bad "files outside the layout: $unexpected"

# The installed rules are the catalogue's, as the staged tool prints them, and tag nodes.
RULES=$R/lib/udev/rules.d/70-torvanix.rules
if [ -f "$RULES" ]; then
    "$R/bin/torvanix-ctl" udev-rules | cmp -s - "$RULES" || bad "installed udev rules differ from torvanix-ctl udev-rules"
    grep -q '^KERNELS=="\*:258A:0013\.\*", ENV{HID_PHYS}=="\*/input1", TAG+="uaccess"$' "$RULES" ||
        bad "the rules miss a catalogue device"
else
    bad "missing lib/udev/rules.d/70-torvanix.rules"
fi

# Software centres match the AppStream modaliases against what is plugged in: every device the
# rules open (as the program's own catalogue reader lists them) has one, the boot loader none.
METAINFO=$R/share/metainfo/$APP.metainfo.xml
if [ -f "$RULES" ] && [ -f "$METAINFO" ]; then
    BOOT_LOADER=258A:FF12
    rule_ids=$(sed -n 's/^KERNELS=="\*:\([0-9A-F]\{4\}\):\([0-9A-F]\{4\}\)\.\*".*/\1:\2/p' "$RULES" | sort -u)
    alias_ids=$(sed -n 's|^ *<modalias>usb:v\([0-9A-F]\{4\}\)p\([0-9A-F]\{4\}\)d\*</modalias>$|\1:\2|p' "$METAINFO" | sort -u)
    grep -qx "$BOOT_LOADER" <<<"$rule_ids" || bad "the rules no longer name the boot loader $BOOT_LOADER"
    [ "$(grep -c '<modalias>' "$METAINFO")" = "$(grep -c . <<<"$alias_ids")" ] ||
        bad "a modalias is repeated or not of the form usb:vXXXXpYYYYd*"
    missing=$(comm -23 <(grep -vx "$BOOT_LOADER" <<<"$rule_ids") <(echo "$alias_ids"))
    extra=$(comm -13 <(grep -vx "$BOOT_LOADER" <<<"$rule_ids") <(echo "$alias_ids"))
    [ -z "$missing" ] || bad "devices without a modalias in the metainfo: $(echo $missing)"
    [ -z "$extra" ] || bad "modaliases of no catalogue device: $(echo $extra)"
fi

if [ -f "$R/share/applications/$APP.desktop" ]; then
    desktop-file-validate "$R/share/applications/$APP.desktop" || bad "desktop-file-validate"
    appstreamcli validate --no-net "$R/share/metainfo/$APP.metainfo.xml" || bad "appstreamcli validate"
fi

# The staged tool runs from the staged folder: by default on the hidraw libraries beside it,
# with --devices on the simulator installed beside them.
export TORVANIX_DEVICES_DIR= QT_LOGGING_RULES="torvanix.device.debug=true"
# What the tool saves (the boot-loader table) stays in the staging folder, not in the real home.
export XDG_DATA_HOME=$STAGE/home/share XDG_CONFIG_HOME=$STAGE/home/config XDG_STATE_HOME=$STAGE/home/state
out=$("$R/bin/torvanix-ctl" --no-pause list 2>"$STAGE/list.err") || bad "staged torvanix-ctl list failed"
case $out in \[*\]) ;; *) bad "staged list printed no device array: $out" ;; esac
grep -q "loaded from $P/hidraw (installed program" "$STAGE/list.err" ||
    { bad "the staged program did not load the hidraw libraries"; cat "$STAGE/list.err" >&2; }
out=$("$R/bin/torvanix-ctl" --no-pause --devices "$P/simulator" list 2>"$STAGE/sim.err") ||
    bad "staged torvanix-ctl --devices list failed"
grep -q '"Version":"TOB-NIR-V1.2.0"' <<<"$out" || { bad "the staged simulator listed no demo device"; cat "$STAGE/sim.err" >&2; }
grep -q "loaded from $P/simulator (--devices)" "$STAGE/sim.err" || bad "the log does not name the simulator folder"

# The installed folder is not the user's to write: run by an unprivileged user, the tool's
# picture writes land in that user's data folder, and nothing lands beside the program.
# (Skipped where the unprivileged user cannot reach the build folder, e.g. a clone in /root.)
as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null && as_user test -x "$R/bin/torvanix-ctl"; then
    H=$STAGE/user-home
    mkdir -p "$H" && chown 65534:65534 "$H"
    png=iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==
    out=$(as_user env HOME="$H" XDG_DATA_HOME="$H/share" XDG_CONFIG_HOME="$H/config" XDG_RUNTIME_DIR="$H" \
        "$R/bin/torvanix-ctl" --no-pause --devices "$P/simulator" call \
        "{\"FuncName\":\"SaveImageTemp\",\"ImageName\":\"a\",\"ImageBase64Data\":\"$png\"}" \
        2>"$STAGE/user.err") || bad "SaveImageTemp as an unprivileged user failed: $out"
    [ -f "$H/share/torvanix/screen/a.png" ] ||
        { bad "the picture did not land in the user's data folder"; cat "$STAGE/user.err" >&2; }
    [ ! -e "$P/screen" ] || bad "the installed program folder got a screen/ folder"
fi

[ $fail -eq 0 ] && echo "install layout ok: $R"
exit $fail
