#!/usr/bin/env bash
# bench-hidraw.sh [BUILD_DIR]
# Round trip of one register read (17 bytes at address 2), and of one 640-byte register write
# (a key table's size), through the hidraw libraries to torvanix-hid-emulator over uhid,
# against the simulator's in-process call; then the packet keyboard's 640-item key table
# transfer with the program's real pauses, split into pause time and the rest. All inside the
# test VM, whose CPU is emulated (about ten times slower), so only the ratios carry over to a
# real machine. Needs the bench programs built (cmake --build build --target
# key_table_transfer_bench).
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = --in-vm ]; then
    B=$2
    "$B/bin/torvanix-hid-emulator" --only 'vid_4c4a&pid_4255' --only 'vid_0c45&pid_8075' >emu.log 2>&1 &
    EMU=$!
    for _ in $(seq 200); do grep -q '^ready' emu.log && break; sleep 0.05; done
    hid=$("$B/tests/torvanix-vm-libcall" "$B/hidraw" list | grep 'col02')
    sim=$("$B/tests/torvanix-vm-libcall" "$B/bin" list | grep 'vid_4c4a&pid_4255')
    echo "hidraw:    $("$B/tests/torvanix-vm-libcall" "$B/hidraw" bench "$hid" 300)"
    echo "simulator: $("$B/tests/torvanix-vm-libcall" "$B/bin" bench "$sim" 3000)"
    echo "hidraw:    $("$B/tests/torvanix-vm-libcall" "$B/hidraw" bench "$hid" 100 640)"
    echo "simulator: $("$B/tests/torvanix-vm-libcall" "$B/bin" bench "$sim" 1000 640)"
    if [ -x "$B/bench/key_table_transfer_bench" ]; then
        echo "hidraw:    $("$B/bench/key_table_transfer_bench" "$B/hidraw" 10 2>/dev/null | tail -1)"
        echo "simulator: $("$B/bench/key_table_transfer_bench" "$B/bin" 10 2>/dev/null | tail -1)"
    fi
    kill $EMU
    wait $EMU
    exit 0
fi
B=$(realpath "${1:-build}")
W=$B/vm/bench
mkdir -p "$W"
cd "$W" && TORVANIX_VM_DIR=$B/vm "$HERE/run-in-vm.sh" "$W" "$HERE/bench-hidraw.sh" --in-vm "$B"
