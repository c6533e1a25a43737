#!/usr/bin/env bash
# Builds the VM's kernel and initramfs into DIR (default build/vm) from Debian packages only:
# the kernel package linux-image-amd64 points to (apt-get download, kept in DIR/debs), its
# uncompressed vmlinux (booted directly, which skips seconds of decompression under a software
# CPU), and an initramfs of busybox-static, the modules the device tests need and init.sh.
# Does nothing when DIR is up to date.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
DIR=$(realpath -m "${1:-${TORVANIX_VM_DIR:-build/vm}}")
OUT=$DIR/out
KROOT=$DIR/kroot
MODULES="virtio_pci virtio_mmio virtio_console 9pnet_virtio 9p uhid hid_generic uinput evdev usbhid hid_apple"
# A USB device with real interface numbers: the gadget stack on the dummy host controller.
GADGET_MODULES="configfs libcomposite usb_f_hid dummy_hcd"

for tool in busybox modprobe depmod dpkg-deb xz; do
    command -v "$tool" >/dev/null || { echo "prepare: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
mkdir -p "$OUT" "$DIR/debs"
# Tests that start together wait here for one of them to build the files.
exec 9>"$DIR/.prepare.lock"
flock 9

if [ -f "$OUT/initramfs.cpio.gz" ] && [ "$OUT/initramfs.cpio.gz" -nt "$HERE/init.sh" ] &&
    [ "$OUT/initramfs.cpio.gz" -nt "$HERE/prepare.sh" ] && [ -s "$OUT/vmlinux" ]; then
    exit 0
fi

kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/{print $2; exit}'
}
KPKG=${TORVANIX_VM_KERNEL:-$(kernel_package)}
if [ -z "$KPKG" ] && [ "$(id -u)" = 0 ]; then
    apt-get update -q >&2 || true
    KPKG=$(kernel_package)
fi
if [ -z "$KPKG" ]; then
    echo "prepare: apt-cache does not know linux-image-amd64 (run apt-get update)" >&2
    exit 1
fi
KVER=${KPKG#linux-image-}
if [ ! -f "$KROOT/boot/vmlinuz-$KVER" ]; then
    if ! ls "$DIR/debs/${KPKG}"_*.deb >/dev/null 2>&1; then
        (cd "$DIR/debs" && apt-get download "$KPKG") >&2
    fi
    rm -rf "$KROOT"
    mkdir -p "$KROOT"
    dpkg-deb -x "$(ls "$DIR/debs/${KPKG}"_*.deb | head -1)" "$KROOT"
    depmod -b "$KROOT" "$KVER"
fi

# The ELF vmlinux sits xz-compressed inside the bzImage; it has a PVH entry QEMU boots directly.
at=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$KROOT/boot/vmlinuz-$KVER" | head -1 | cut -d: -f1)
tail -c +$((at + 1)) "$KROOT/boot/vmlinuz-$KVER" | xz -dc 2>/dev/null >"$OUT/vmlinux.tmp" || true
[ -s "$OUT/vmlinux.tmp" ] || { echo "prepare: no vmlinux inside the kernel image" >&2; exit 1; }
mv "$OUT/vmlinux.tmp" "$OUT/vmlinux"

IR=$(mktemp -d)
trap 'rm -rf "$IR"' EXIT
mkdir -p "$IR"/{bin,dev,proc,sys,newroot,lib/modules}
cp "$(command -v busybox)" "$IR/bin/busybox"
: >"$IR/modules.list"
for m in $MODULES $GADGET_MODULES; do
    modprobe -d "$KROOT" -S "$KVER" --show-depends "$m" | awk '$1=="insmod"{print $2}' |
        while read -r ko; do
            b=$(basename "$ko")
            if ! grep -qx "$b" "$IR/modules.list"; then
                cp "$ko" "$IR/lib/modules/$b"
                echo "$b" >>"$IR/modules.list"
            fi
        done
done
cp "$HERE/init.sh" "$IR/init"
chmod 755 "$IR/init"
(cd "$IR" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1 >"$OUT/initramfs.cpio.gz.tmp")
mv "$OUT/initramfs.cpio.gz.tmp" "$OUT/initramfs.cpio.gz"
echo "$KVER" >"$OUT/kver"
echo "prepare: kernel $KVER, $(wc -l <"$IR/modules.list") modules in $OUT" >&2
