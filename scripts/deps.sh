#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need.
# Fast when everything is already present: it only calls apt-get for what is missing.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config git ccache
    qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
    qtwebengine5-dev libqt5webchannel5-dev qtmultimedia5-dev
    libqt5multimedia5-plugins gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    libpugixml-dev libhidapi-dev liblzma-dev libudev-dev libcpp-httplib-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth x11-apps imagemagick xdotool fonts-wqy-microhei
    # an XEmbed tray on the virtual X server (bench/footprint.sh)
    trayer
    nodejs
    libsodium-dev
    # https to the vendor endpoint (the loopback server's client)
    libssl-dev
    # the input filter: the kernel's event devices and virtual twins
    libevdev-dev
    qtwayland5 weston
    clang libclang-rt-dev
    # the kernel-level device tests: a small VM with uhid/hidraw (scripts/vm)
    qemu-system-x86 busybox-static kmod xz-utils udev
    # the install checks: menu entry, metainfo, the .deb (dpkg-shlibdeps)
    desktop-file-utils appstream dpkg-dev
    # the D-Bus API's test: a private session bus, gdbus, python3-dbus
    dbus-daemon dbus-bin libglib2.0-bin python3-dbus
    # the battery notices' test: a stand-in notification service (python3-dbus's main loop)
    python3-gi
    # profiles following the application in front: X11 and wlroots clients, and the desktops
    # their tests run under
    libxcb1-dev libwayland-dev libwayland-bin openbox sway foot
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The page is built with npm; Debian's own nodejs package comes without it, and the build
# tools want Node.js 20.19 or newer.
if ! command -v npm >/dev/null 2>&1; then
    echo "Installing: npm"
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    export DEBIAN_FRONTEND=noninteractive
    if ! $SUDO apt-get install -y -q --no-install-recommends npm; then
        $SUDO apt-get update -q
        $SUDO apt-get install -y -q --no-install-recommends npm
    fi
fi
node_version=$(node -p 'process.versions.node' 2>/dev/null || echo 0)
IFS=. read -r node_major node_minor _ <<<"$node_version"
if [ "${node_major:-0}" -lt 20 ] || { [ "$node_major" -eq 20 ] && [ "${node_minor:-0}" -lt 19 ]; }; then
    echo "Node.js $node_version is too old to build the page: 20.19 or newer is needed" >&2
    exit 1
fi
