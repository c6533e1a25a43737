#!/bin/busybox sh
# PID 1 of the test VM: loads the modules, mounts the host's / read-only over 9p with fresh
# proc/sys/dev, configfs (USB gadgets) and tmpfs on /tmp /run /var/tmp, shows the host's
# folders the host listed in the control share again at their places under those tmpfs
# (a source or build tree kept in /tmp), mounts the writable work share, runs the command the
# host left in the control share inside a chroot, records its exit code there and powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
say() { echo "vm-init: $*" >/dev/ttyS0; }
fail() {
    say "FATAL: $*"
    sleep 1
    poweroff -f
}
while read -r m; do insmod "/lib/modules/$m" 2>/dev/null || say "insmod $m failed"; done </modules.list
R=/newroot
O9=trans=virtio,version=9p2000.L,msize=512000
mount -t 9p -o $O9,ro,cache=loose root $R || fail "cannot mount the root share"
# The host's whole tree stays reachable here after the tmpfs mounts hide parts of it under $R
# (a 9p share can be mounted only once, so this is a bind of the first mount).
mkdir -p /host
mount -o bind $R /host || fail "cannot bind the root share"
mount -t proc proc $R/proc
mount -t sysfs sysfs $R/sys
[ -d $R/sys/kernel/config ] && mount -t configfs configfs $R/sys/kernel/config
mount -t devtmpfs devtmpfs $R/dev
mkdir -p $R/dev/pts $R/dev/shm
mount -t devpts devpts $R/dev/pts
mount -t tmpfs tmpfs $R/dev/shm
mount -t tmpfs -o mode=755 tmpfs $R/run
mount -t tmpfs -o mode=1777 tmpfs $R/tmp
mount -t tmpfs -o mode=1777 tmpfs $R/var/tmp
mkdir -p $R/run/vm
mount -t 9p -o $O9 ctl $R/run/vm || fail "cannot mount the control share"
. $R/run/vm/config
# One line per folder: where the guest sees it, a tab, where it is on the host.
TAB=$(printf '\t')
if [ -s $R/run/vm/keep ]; then
    while IFS=$TAB read -r at from; do
        [ -n "$at" ] && [ -d "/host$from" ] || continue
        mkdir -p "$R$at" && mount -o bind "/host$from" "$R$at" || say "cannot show $at"
    done <$R/run/vm/keep
fi
mkdir -p "$R$VM_WORK" 2>/dev/null
mount -t 9p -o $O9,cache=mmap work "$R$VM_WORK" || fail "cannot mount the work share $VM_WORK"
# The command's output goes to two virtio serial ports the host reads.
OUT=/dev/ttyS1
ERR=/dev/ttyS2
for p in /sys/class/virtio-ports/*; do
    [ -e "$p/name" ] || continue
    case "$(cat "$p/name")" in
    vm.out) OUT=/dev/${p##*/} ;;
    vm.err) ERR=/dev/${p##*/} ;;
    esac
done
chroot $R /bin/bash /run/vm/runner.sh </dev/null >$OUT 2>$ERR
echo $? >$R/run/vm/rc
sync
poweroff -f
