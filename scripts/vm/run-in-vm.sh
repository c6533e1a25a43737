#!/usr/bin/env bash
# run-in-vm.sh WORKDIR COMMAND [ARGS...]
# Boots Debian's kernel under QEMU's software CPU with the host's / as a read-only root, WORKDIR
# shared read-write at the same place, uhid/hidraw/uinput/evdev loaded, and runs COMMAND there
# (in WORKDIR, with this environment). Its output streams back; the exit code is COMMAND's, 124
# on time-out, 125 when the VM itself failed. No root, no KVM.
# The guest has fresh tmpfs on /tmp, /var/tmp and /run; this source tree, COMMAND and every
# folder named by an absolute argument (a file's folder) that lie under them are shown there
# again, read-only, so trees kept in /tmp work.
# Environment: TORVANIX_VM_DIR (kernel and initramfs, default build/vm), TORVANIX_VM_TIMEOUT
# (seconds, default 600), TORVANIX_VM_MEM (MiB, default 1024), TORVANIX_VM_CONSOLE=1 prints the
# guest console afterwards, TORVANIX_VM_KEEP (more host folders to show, separated by ':').
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 2 ] || { sed -n '2,13p' "$0" >&2; exit 2; }
WORK=$(realpath "$1")
shift
[ -d "$WORK" ] || { echo "run-in-vm: $WORK is not a folder" >&2; exit 2; }
VM_DIR=$(realpath -m "${TORVANIX_VM_DIR:-build/vm}")
TIMEOUT=${TORVANIX_VM_TIMEOUT:-600}
MEM=${TORVANIX_VM_MEM:-1024}
command -v qemu-system-x86_64 >/dev/null ||
    { echo "run-in-vm: qemu-system-x86_64 is missing (scripts/deps.sh installs it)" >&2; exit 125; }
"$HERE/prepare.sh" "$VM_DIR" || exit 125

RUN=$(mktemp -d "${TMPDIR:-/tmp}/torvanix-vm.XXXXXX")
trap 'rm -rf "$RUN"' EXIT
echo "VM_WORK='$WORK'" >"$RUN/config"
{
    export -p | grep -v -E '^declare -[a-zA-Z]*r|^declare -x (PWD|OLDPWD|SHLVL|_|TERM)='
    printf 'export TERM=dumb TORVANIX_IN_VM=1\n'
} >"$RUN/env"
CMD=("$@")
declare -p CMD >"$RUN/cmd"

# Folders the guest's tmpfs would hide: "where the guest looks<TAB>where it is on the host",
# the path as given and the path with its links resolved (a link elsewhere leads into tmpfs).
# A folder inside one already listed comes along with it.
keep_lines() {
    local c dir at real
    local -a candidates more
    IFS=: read -r -a more <<<"${TORVANIX_VM_KEEP:-}"
    candidates=("$(cd "$HERE/../.." && pwd)" "$@" "${more[@]}")
    for c in "${candidates[@]}"; do
        [[ "$c" = /* && -e "$c" ]] || continue
        dir=$c
        [ -d "$dir" ] || dir=$(dirname "$c")
        real=$(realpath -e -- "$dir") || continue
        for at in "$(realpath -s -- "$dir")" "$real"; do
            case "$at" in
            /run/vm | /run/vm/*) ;;
            /tmp/?* | /var/tmp/?* | /run/?*) printf '%s\t%s\n' "$at" "$real" ;;
            esac
        done
    done | LC_ALL=C sort -u -t "$TAB" -k1,1 |
        awk -F '\t' '{ for (i = 1; i <= n; i++) if (index($1, kept[i] "/") == 1) next
                       kept[++n] = $1; print }'
}
TAB=$'\t'
keep_lines "${CMD[@]}" >"$RUN/keep"
cat >"$RUN/runner.sh" <<'RUNNER'
source /run/vm/env
source /run/vm/cmd
cd "$VM_CWD" 2>/dev/null || cd /
"${CMD[@]}"
RUNNER
printf 'VM_CWD=%q\n' "$WORK" >>"$RUN/env"

mkfifo "$RUN/out" "$RUN/err"
cat "$RUN/out" &
OUT_PID=$!
cat "$RUN/err" >&2 &
ERR_PID=$!
FS="security_model=none,multidevs=remap"
timeout -k 5 "$TIMEOUT" nice -n 10 qemu-system-x86_64 \
    -accel tcg,tb-size=256 -cpu max -M pc -m "$MEM" -smp 1 \
    -nodefaults -no-user-config -display none -no-reboot \
    -kernel "$VM_DIR/out/vmlinux" -initrd "$VM_DIR/out/initramfs.cpio.gz" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init tsc=reliable mitigations=off" \
    -chardev file,id=con,path="$RUN/console.log" -serial chardev:con \
    -device virtio-serial-pci \
    -chardev file,id=out,path="$RUN/out" -device virtserialport,chardev=out,name=vm.out \
    -chardev file,id=err,path="$RUN/err" -device virtserialport,chardev=err,name=vm.err \
    -fsdev local,id=root,path=/,readonly=on,$FS -device virtio-9p-pci,fsdev=root,mount_tag=root \
    -fsdev local,id=work,path="$WORK",$FS -device virtio-9p-pci,fsdev=work,mount_tag=work \
    -fsdev local,id=ctl,path="$RUN",$FS -device virtio-9p-pci,fsdev=ctl,mount_tag=ctl \
    </dev/null
qrc=$?
# Lets the readers finish even when QEMU never opened a pipe.
for f in out err; do
    exec 3<>"$RUN/$f"
    exec 3>&-
done
wait $OUT_PID $ERR_PID 2>/dev/null
[ "${TORVANIX_VM_CONSOLE:-0}" = 1 ] && { echo "--- vm console ---"; cat "$RUN/console.log"; } >&2
if [ -s "$RUN/rc" ]; then
    exit "$(cat "$RUN/rc")"
elif [ $qrc = 124 ]; then
    echo "run-in-vm: time-out after ${TIMEOUT}s" >&2
    tail -20 "$RUN/console.log" >&2
    exit 124
fi
echo "run-in-vm: the VM ended without a result (qemu $qrc)" >&2
tail -20 "$RUN/console.log" >&2
exit 125
