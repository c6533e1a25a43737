#!/usr/bin/env bash
# Builds the .deb from the build tree (cpack) into a folder of its own and checks its control
# fields and its files.
set -uo pipefail
BUILD=$(cd "$1" && pwd)
OUT=$2
rm -rf "$OUT"
mkdir -p "$OUT"
if ! cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$OUT" >"$OUT/cpack.log" 2>&1; then
    echo "cpack failed:" >&2
    cat "$OUT/cpack.log" >&2
    exit 1
fi
DEB=$(ls "$OUT"/torvanix_*.deb 2>/dev/null | head -1)
[ -n "$DEB" ] || { echo "no package in $OUT" >&2; exit 1; }
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }
field() { dpkg-deb -f "$DEB" "$1"; }

[ "$(field Package)" = torvanix ] || bad "Package: $(field Package)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || bad "Architecture: $(field Architecture)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
[ "$(field Version)" = "$version" ] || bad "Version: $(field Version), project $version"
depends=$(field Depends)
# From dpkg-shlibdeps, and the run-time-loaded multimedia back end named by hand.
for dep in libc6 libqt5core5a libhidapi-hidraw0 libudev1 libpugixml1v5 libqt5multimedia5-plugins; do
    grep -Eq "(^|, )$dep( |,|$)" <<<"$depends" || bad "Depends lacks $dep: $depends"
done
grep -q torvanix <<<"$depends" && bad "Depends names our own libraries: $depends"
dpkg-deb -I "$DEB" postinst >/dev/null 2>&1 || bad "no postinst (udev reload)"

files=$(dpkg-deb -c "$DEB" | awk '{ s = $6; for (i = 7; i <= NF; ++i) s = s " " $i; print s }')
for f in ./usr/lib/torvanix/torvanix-ctl ./usr/lib/torvanix/hidraw/libUsbInterface.so \
    ./usr/lib/torvanix/simulator/libUsbInterface.so ./usr/lib/udev/rules.d/70-torvanix.rules \
    ./usr/share/metainfo/org.torvanix.Torvanix.metainfo.xml; do
    grep -q "^$f\( \|$\)" <<<"$files" || bad "package lacks $f"
done
grep -q '^./usr/bin/torvanix-ctl -> ../lib/torvanix/torvanix-ctl$' <<<"$files" || bad "package lacks the bin/torvanix-ctl link"
if [ -x "$BUILD/bin/torvanix" ]; then
    grep -q '^./usr/bin/torvanix -> ../lib/torvanix/torvanix$' <<<"$files" || bad "package lacks the bin/torvanix link"
    grep -q '^./usr/lib/torvanix/torvanix-ui$' <<<"$files" || bad "package lacks the window program torvanix-ui"
    grep -q '^./usr/bin/torvanix-ui' <<<"$files" && bad "torvanix-ui is started by the core only, not from the path"
    grep -q '^./usr/share/applications/org.torvanix.Torvanix.desktop$' <<<"$files" || bad "package lacks the desktop entry"
    grep -q '^./usr/share/dbus-1/services/org.torvanix.Torvanix.service$' <<<"$files" || bad "package lacks the D-Bus service file"
    dpkg-deb --fsys-tarfile "$DEB" | tar -xOf - ./usr/share/dbus-1/services/org.torvanix.Torvanix.service 2>/dev/null |
        grep -qx 'Exec=/usr/lib/torvanix/torvanix --background' || bad "the packaged D-Bus service file does not start /usr/lib/torvanix/torvanix in the background"
fi
[ $fail -eq 0 ] && echo "package ok: $DEB"
exit $fail
