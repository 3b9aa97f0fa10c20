#!/bin/bash
# The converter's side of the browser suite, in the guest: plugs in the
# uhid converter (zyr-uhid-converter) and changes it while it runs.
#
#   converter_control.sh plug             plugs it in (again), registers kept; returns once the kernel has it
#   converter_control.sh registers        what it holds: its state file's 16 rows "00: xx .. xx"
#   converter_control.sh silent | answer  read requests get no reply / replies again
#   converter_control.sh unplug-after N   removed at the write request after N more
#   converter_control.sh stop             unplugs it and ends it
#
# ZYR_UHID_CONVERTER names the program, ZYR_CONVERTER_DIR a folder for its
# state file (a backup file), control FIFO, process id and output.
set -u
dir=${ZYR_CONVERTER_DIR:?}
state=$dir/state.zyr
fifo=$dir/control
pidfile=$dir/pid

running() { [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; }

tell() {
    running || { echo "converter_control: the converter is not running" >&2; exit 1; }
    # A FIFO write blocks until the converter reads: bounded.
    timeout 10 bash -c 'echo "$1" >"$2"' _ "$*" "$fifo"
}

case "${1:-}" in
plug)
    mkdir -p "$dir"
    running && { echo "converter_control: already plugged in" >&2; exit 1; }
    rm -f "$fifo"
    mkfifo "$fifo"
    : >"$dir/out"
    "${ZYR_UHID_CONVERTER:?}" --state "$state" --control "$fifo" >"$dir/out" 2>&1 &
    echo $! >"$pidfile"
    for _ in $(seq 1 200); do
        grep -qx ready "$dir/out" && exit 0
        running || break
        sleep 0.05
    done
    echo "converter_control: the converter did not come up: $(cat "$dir/out")" >&2
    exit 1
    ;;
registers)
    grep -E '^[0-9A-F]{2}: ' "$state"
    ;;
silent | answer | unplug-after)
    tell "$@"
    ;;
stop)
    running && { tell unplug 2>/dev/null || kill "$(cat "$pidfile")"; }
    for _ in $(seq 1 50); do running || exit 0; sleep 0.1; done
    kill -9 "$(cat "$pidfile")" 2>/dev/null
    ;;
*)
    echo "usage: converter_control.sh plug|registers|silent|answer|unplug-after N|stop" >&2
    exit 2
    ;;
esac
