#!/usr/bin/env bash
# tmp_tree.sh BUILD_DIR
# A VM test run from a source and build tree kept under /tmp, which the guest covers with a
# tmpfs of its own: the input filter test (input_filter.sh) from a copy of the VM scripts and
# of the programs it runs (hard links where the file system allows), the kernel and initramfs
# shared with BUILD_DIR. The copy goes to a fresh folder in /tmp and away afterwards.
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
[ $# -eq 1 ] || { sed -n '2,6p' "$0" >&2; exit 2; }
B=$(realpath "$1")
[ -x "$B/tests/torvanix-vm-input" ] || { echo "build torvanix-vm-input first" >&2; exit 2; }
# Made (or found up to date) here, so that the copy finds them ready.
"$ROOT/scripts/vm/prepare.sh" "$B/vm" || exit 1

T=$(mktemp -d /tmp/torvanix-tree.XXXXXX)
trap 'rm -rf "$T"' EXIT
link_or_copy() { cp -pRl "$1" "$2" 2>/dev/null || cp -pR "$1" "$2"; }
mkdir -p "$T/src/scripts" "$T/src/tests" "$T/build/tests" "$T/build/vm"
# Times are kept: the copied VM scripts are no newer than the initramfs made from them.
cp -pR "$ROOT/scripts/vm" "$T/src/scripts/" && cp -pR "$HERE" "$T/src/tests/" &&
    link_or_copy "$B/bin" "$T/build/" &&
    link_or_copy "$B/tests/torvanix-vm-input" "$T/build/tests/" &&
    ln -s "$B/vm/out" "$T/build/vm/out" || { echo "cannot copy the tree to $T" >&2; exit 1; }

"$T/src/tests/vm/input_filter.sh" "$T/build"
rc=$?
echo "a VM test from a tree under /tmp: $([ $rc = 0 ] && echo passed || echo FAILED)"
exit $rc
