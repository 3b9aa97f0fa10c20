#!/bin/bash
# zyrctl for Linux through the kernel's own HID stack: each case starts the
# converter through /dev/uhid (zyr-uhid-converter), runs the real zyrctl on
# its hidraw node, and checks what the user sees and what the converter
# holds (its state file, written by the converter itself). Runs as root in a
# guest with uhid (scripts/test_linux.sh boots one), or on any machine whose
# kernel has uhid.
#
#     kernel_suite.sh BIN SHARE
#
# BIN holds zyrctl and zyr-uhid-converter. SHARE is a folder the host sees:
# it brings windows.zyr (a backup made by the Windows zyrctl) and takes
# linux.zyr and linux-expected.zyr back. One line per case, "PASS name" or
# "FAIL name: why", and "SUITE <passed> <failed>" last.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BIN=$(readlink -f "$1")
SHARE=$(readlink -f "$2")
ZYRCTL=$BIN/zyrctl
CONVERTER=$BIN/zyr-uhid-converter
W=$(mktemp -d /tmp/zyr-kernel.XXXXXX)
cd "$W" || exit 1
passed=0
failed=0
CONVERTER_PID=
NODE=

pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() {
    echo "FAIL $1: $2"
    failed=$((failed + 1))
    [ -f out ] && sed 's/^/    out: /' out | head -20
    [ -f err ] && sed 's/^/    err: /' err | head -20
}

# The hidraw node of the converter the kernel has, if any.
converter_node() {
    local d
    for d in /sys/class/hidraw/hidraw*; do
        [ -e "$d/device/uevent" ] && grep -q '^HID_ID=0003:000016C0:000003E8$' "$d/device/uevent" &&
            echo "/dev/${d##*/}" && return
    done
}

# wait_node [OUTPUT]: until the converter's node is there, in $NODE, and
# (given its OUTPUT file) the converter has said "ready"; at most 10 s.
wait_node() {
    local i
    for i in $(seq 200); do
        NODE=$(converter_node)
        if { [ $# = 0 ] || grep -q '^ready$' "$1" 2>/dev/null; } && [ -n "$NODE" ] && [ -c "$NODE" ]; then
            return 0
        fi
        sleep 0.05
    done
    return 1
}

# start_converter STATE [OPTION...]: the converter with the registers in
# STATE, until its node is there; its control FIFO is $W/control.
start_converter() {
    local state=$1
    shift
    rm -f control converter.out
    mkfifo control
    "$CONVERTER" --state "$state" --control control "$@" >converter.out 2>converter.err &
    CONVERTER_PID=$!
    wait_node converter.out && return 0
    echo "the converter did not come up: $(cat converter.err)"
    return 1
}

# Ends the converter, if it still runs.
end_converter() {
    if [ -n "$CONVERTER_PID" ]; then
        kill "$CONVERTER_PID" 2>/dev/null
        wait "$CONVERTER_PID" 2>/dev/null
    fi
    CONVERTER_PID=
}

# Ends the converter (if it still runs) and waits until its node is gone.
stop_converter() {
    local i
    end_converter
    for i in $(seq 100); do
        [ -z "$(converter_node)" ] && return 0
        sleep 0.05
    done
}

# slow_backup FILE: a backup to FILE in the background, its pid in $slow,
# given 2 s to take the converter; its output in slow.out and slow.err.
slow_backup() {
    timeout -k 5 120 "$ZYRCTL" backup "$1" >slow.out 2>slow.err &
    slow=$!
    sleep 2
}

# zyrctl ARGS: its output in out and err, its exit code in $rc.
zyrctl() {
    timeout -k 5 120 "$ZYRCTL" "$@" >out 2>err
    rc=$?
}

# expect CASE CODE [TEXT]: the last zyrctl ended with CODE and TEXT in its output.
expect() {
    local name=$1 code=$2 text=${3:-}
    if [ "$rc" != "$code" ]; then
        fail "$name" "exit $rc, expected $code"
        return 1
    fi
    if [ -n "$text" ] && ! grep -qF -- "$text" out err; then
        fail "$name" "no \"$text\" in the output"
        return 1
    fi
    return 0
}

# same_registers A B: the two backup files hold the same 256 registers.
same_registers() {
    diff <(grep -E '^[0-9A-F]0:' "$1") <(grep -E '^[0-9A-F]0:' "$2") >/dev/null
}

fresh_state() { rm -f "$1" "$1.new"; }

# --- identity, info, show, backup -------------------------------------------
fresh_state state.zyr
start_converter state.zyr || exit 1
zyrctl info
expect "info finds the converter by its identity" 0 "device path: $NODE" &&
    grep -q '^firmware: *1\.23\.00 (12300)' out && grep -q '^type: *VSS+ECT (2)' out &&
    pass "info finds the converter by its identity"

# The kernel hands an unnumbered report over without its report-ID byte;
# the protocol sees the 9 bytes it sees on Windows.
zyrctl --trace trace.txt info
if [ "$rc" = 0 ] && grep -qE "open +read\+write  $NODE\$" trace.txt &&
    grep -qE ' out +00 02 01 00 00 00 00 00 00$' trace.txt &&
    grep -qE ' in +00 02 01 0C( [0-9A-F]{2}){5}$' trace.txt && grep -qE ' close +read\+write$' trace.txt; then
    pass "the trace shows 9-byte reports both ways"
else
    fail "the trace shows 9-byte reports both ways" "exit $rc; $(head -n 4 trace.txt)"
fi

zyrctl show
cp out shown-device
zyrctl show state.zyr
if expect "show decodes the converter's registers" 0 && cmp -s out shown-device && [ -s out ]; then
    pass "show decodes the converter's registers"
else
    fail "show decodes the converter's registers" "the device's view differs from its registers' view"
fi

t0=$(date +%s%N)
zyrctl backup backup.zyr
t1=$(date +%s%N)
# A figure for the record, not a check: 262 read exchanges (6 identity, 256 registers) and one open.
echo "INFO zyrctl backup over uhid: $(((t1 - t0) / 1000000)) ms for the whole program run"
expect "backup holds the converter's own 256 registers" 0 "saved all 256 registers" &&
    if same_registers backup.zyr state.zyr; then
        pass "backup holds the converter's own 256 registers"
    else fail "backup holds the converter's own 256 registers" "backup.zyr differs from the converter"; fi

# --- files that cannot be written: a clear message, nothing half-written -----
zyrctl backup /sys/zyr-backup.zyr
expect "an unwritable backup path: exit 3, nothing written" 3 "cannot create a temporary file beside /sys/zyr-backup.zyr" &&
    [ ! -e /sys/zyr-backup.zyr ] && pass "an unwritable backup path: exit 3, nothing written"
mkdir -p full && mount -t tmpfs -o size=8k tmpfs full && dd if=/dev/zero of=full/filler bs=1k count=8 2>/dev/null
zyrctl backup full/backup.zyr
expect "a full disk: exit 3, no half-written file" 3 "cannot write full/backup.zyr" &&
    [ -z "$(ls full | grep -v '^filler$')" ] && pass "a full disk: exit 3, no half-written file" ||
    { [ "$rc" = 3 ] && fail "a full disk: exit 3, no half-written file" "left: $(ls full)"; }
umount full

# --- set, diff, table import, restore ----------------------------------------
zyrctl set speed=+3.5 sensor=low --yes
expect "set changes the converter and saves it first" 0 "every register holds what was meant" &&
    zyrctl show state.zyr && grep -q '^speed adjustment  3\.5 %' out && ls zyr-before-set-*.zyr >/dev/null 2>&1 &&
    same_registers zyr-before-set-*.zyr backup.zyr &&
    pass "set changes the converter and saves it first" ||
    { [ "$rc" = 0 ] && fail "set changes the converter and saves it first" "the converter or the pre-write backup is wrong"; }

zyrctl diff device backup.zyr
expect "diff tells the converter from a backup" 5 "speed" && pass "diff tells the converter from a backup"

zyrctl table ap1-res --export table.txt
if expect "table import writes the edited table" 0; then
    # Entry 3 moved halfway to entry 4.
    entry() { sed -n "s/^$1) 0*\\([0-9][0-9]*\\)mV.*/\\1/p" "$2"; }
    target=$((($(entry 03 table.txt) + $(entry 04 table.txt)) / 2))
    sed "s/^03) [0-9]*mV/03) $(printf %04d $target)mV/" table.txt >table-edited.txt
    zyrctl table ap1-res --import table-edited.txt --yes
    if expect "table import writes the edited table" 0; then
        zyrctl table ap1-res --export table-after.txt
        before=$(entry 03 table.txt)
        after=$(entry 03 table-after.txt)
        # The converter stores a byte per entry: the step nearest the target comes back.
        if [ -n "$after" ] && [ "$after" != "$before" ] &&
            [ $((after > target ? after - target : target - after)) -le 16 ] &&
            ! same_registers state.zyr backup.zyr; then
            pass "table import writes the edited table"
        else
            fail "table import writes the edited table" "entry 3 was $before mV, is $after mV, meant $target mV"
        fi
    fi
fi

zyrctl restore backup.zyr --yes
expect "restore puts a backup back" 0 && same_registers state.zyr backup.zyr &&
    zyrctl diff device backup.zyr && [ "$rc" = 0 ] && pass "restore puts a backup back" ||
    fail "restore puts a backup back" "the converter differs from the backup"

# --- late replies: a reply that missed its attempt is never taken for another --
echo "late 700 1" >control
zyrctl backup late.zyr
expect "a late reply is thrown away, not taken for the next" 0 && same_registers late.zyr state.zyr &&
    pass "a late reply is thrown away, not taken for the next" ||
    fail "a late reply is thrown away, not taken for the next" "late.zyr differs from the converter"

# --- two zyrctl at once -------------------------------------------------------
# Replies 50 ms late: the first zyrctl's backup takes more than 12 s.
echo "late 50" >control
sleep 0.2
slow_backup slow.zyr
zyrctl --wait 1 info
expect "a second zyrctl waits for the first, then gives up" 1 \
    "another ZYR program is using the converter (waited 1 s); nothing was sent" &&
    grep -q "waiting up to 1 s" err && pass "a second zyrctl waits for the first, then gives up"
wait "$slow"
slowrc=$?
echo "late 0" >control
if [ "$slowrc" = 0 ] && same_registers slow.zyr state.zyr; then
    pass "the first zyrctl ends right beside the second"
else
    fail "the first zyrctl ends right beside the second" "exit $slowrc: $(cat slow.err)"
fi
stop_converter

# --- Ctrl+C: the command stops at a register boundary, nothing half-saved ----
start_converter state.zyr --late 50 || exit 1
rm -f interrupted.zyr
"$ZYRCTL" backup interrupted.zyr >out 2>err &
interrupted=$!
sleep 2
kill -INT "$interrupted"
wait "$interrupted"
rc=$?
expect "Ctrl+C stops at the next register, no file written" 1 "stopped by Ctrl+C" && [ ! -e interrupted.zyr ] &&
    pass "Ctrl+C stops at the next register, no file written"
stop_converter

# --- the kernel's own view of the lock: the node is locked while in use -----
start_converter state.zyr --late 50 || exit 1
slow_backup slow2.zyr
if flock -n "$NODE" true; then
    fail "the node is locked while zyrctl uses it" "flock on $NODE succeeded"
else
    pass "the node is locked while zyrctl uses it"
fi
wait "$slow"
stop_converter

# --- removal mid-restore ------------------------------------------------------
start_converter state.zyr || exit 1
zyrctl set speed=-7.5 sensor=high --yes
stop_converter
cp state.zyr before-removal.zyr
rm -f zyr-before-restore-*.zyr
# Removed at the third write request: registers 5 and 6 are written, the
# sensor code at 8 and 9 is not.
start_converter state.zyr --unplug-after 2 || exit 1
zyrctl restore backup.zyr --yes --all
pre=$(ls zyr-before-restore-*.zyr 2>/dev/null | head -n 1)
if expect "removal mid-restore is an honest failure" 1 "writing register" && [ -n "$pre" ] &&
    same_registers "$pre" before-removal.zyr && ! grep -q "every register holds" out err; then
    pass "removal mid-restore is an honest failure"
else
    [ "$rc" = 1 ] && fail "removal mid-restore is an honest failure" "no right pre-write backup, or success claimed"
fi
for i in $(seq 100); do [ -z "$(converter_node)" ] && break; sleep 0.05; done
[ -z "$(converter_node)" ] && pass "the removed converter's node is gone" ||
    fail "the removed converter's node is gone" "$(converter_node) is still there"
wait "$CONVERTER_PID" 2>/dev/null
CONVERTER_PID=
zyrctl info
expect "no converter: the Windows message and exit code" 1 \
    'converter not found: no USB HID device with the converter'"'"'s identity (16C0:03E8, "Brantix" "ZYR-USB") is attached' &&
    pass "no converter: the Windows message and exit code"
# Plugged in again with what it held when it was removed: half of it written.
start_converter state.zyr || exit 1
if same_registers state.zyr before-removal.zyr || same_registers state.zyr backup.zyr; then
    fail "the removed converter is half-written" "it holds a whole image"
else
    pass "the removed converter is half-written"
fi
if [ -n "$pre" ]; then
    zyrctl restore "$pre" --yes --all
    expect "the pre-write backup restores after the removal" 0 && same_registers state.zyr "$pre" &&
        pass "the pre-write backup restores after the removal" ||
        fail "the pre-write backup restores after the removal" "the converter differs from $pre"
fi
stop_converter

# --- a silent converter ends in bounded time ----------------------------------
start_converter state.zyr --silent || exit 1
start=$(date +%s)
zyrctl info
took=$(($(date +%s) - start))
expect "a silent converter: an honest failure, in bounded time" 1 \
    "reading the firmware version word at register 1 failed at stage 2, receiving the low reply (the converter did not answer), after 10 attempts" &&
    pass "a silent converter: an honest failure, in bounded time ($took s)"
stop_converter

# --- identity: another device of the same ids is not the converter ------------
start_converter state.zyr --name "Brantix ZYR-USB2" || exit 1
zyrctl info
expect "another name is not the converter" 1 "converter not found" && pass "another name is not the converter"
stop_converter

# --- permission: a clear message naming the udev rule, its own exit code ------
start_converter state.zyr || exit 1
chmod 0600 "$NODE"
cp state.zyr user-state.zyr
chmod 0777 "$W"
rc=0
timeout -k 5 60 setpriv --reuid=65534 --regid=65534 --clear-groups "$ZYRCTL" info >out 2>err
rc=$?
expect "no permission: the udev rule is named" 6 "70-zyr-converter.rules" && pass "no permission: the udev rule is named"
stop_converter

# --- cross-system: backups move between Windows and Linux byte for byte ------
if [ -f "$SHARE/windows.zyr" ]; then
    fresh_state cross.zyr
    start_converter cross.zyr || exit 1
    zyrctl restore "$SHARE/windows.zyr" --yes
    expect "a Windows backup restores on Linux" 0 && zyrctl diff device "$SHARE/windows.zyr" &&
        expect "a Windows backup restores on Linux" 0 "no differences" && same_registers cross.zyr "$SHARE/windows.zyr" &&
        pass "a Windows backup restores on Linux"
    # The other way: a backup of a converter changed here, for the host.
    zyrctl set speed=+4.5 table=ap2-res --yes
    zyrctl backup "$SHARE/linux.zyr" --force
    expect "a Linux backup for Windows" 0 && cp cross.zyr "$SHARE/linux-expected.zyr" && pass "a Linux backup for Windows"
    stop_converter
else
    fail "a Windows backup restores on Linux" "$SHARE/windows.zyr was not made"
fi

stop_converter
source "$ROOT/tests/linux/gadget_case.sh"

echo "SUITE $passed $failed"
