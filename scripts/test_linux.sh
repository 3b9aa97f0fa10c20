#!/bin/bash
# The Linux stack: builds zyrctl for Linux and the uhid converter
# ($ZYR_BUILD/linux), checks them and their package on this machine, then
# boots Debian's own kernel under qemu (scripts/linux_guest.sh) and runs the
# kernel-stack suite (tests/linux/kernel_suite.sh) there, through uhid,
# hid-generic and hidraw. Around the guest run, the Windows zyrctl over its
# simulated converter (x86_64 build, wine64) makes a backup for the Linux
# one to restore, and restores the one the Linux zyrctl made.
#
# Last line: "<N> passed, <M> failed" (exit 0 or 1), or "not tested: why"
# (exit 77) where this machine cannot run it.
set -u
source "$(dirname "$0")/env.sh"
source "$(dirname "$0")/linux_guest.sh"

LINUX_BUILD=$ZYR_BUILD/linux
SHARE=$LINUX_BUILD/share
passed=0
failed=0
pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1${2:+: $2}"; failed=$((failed + 1)); }
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" = 0 ] && exit 0
    exit 1
}

started=$(date +%s)
packages="cmake ninja-build clang libhidapi-dev qemu-system-x86 busybox-static cpio kmod"
# shellcheck disable=SC2086  # one word per package
if ! zyr_apt_install $packages 2>/dev/null; then
    zyr_not_tested "the Linux stack's packages could not be installed: ${ZYR_APT_REASON:-apt-get failed}"
fi

# --- the build -----------------------------------------------------------------
echo "== building zyrctl for Linux in $LINUX_BUILD"
if ! (cd "$ZYR_ROOT" && cmake --preset linux -B "$LINUX_BUILD" >/dev/null) ||
    ! cmake --build "$LINUX_BUILD" -j "$ZYR_JOBS" --target zyrctl zyr-uhid-converter zyrctl_man; then
    fail "the Linux build"
    finish
fi
BIN=$LINUX_BUILD/linux
echo "built in $(($(date +%s) - started)) s"

# --- on this machine: help, no converter, install, package ---------------------
"$BIN/zyrctl" --help >/dev/null && pass "zyrctl --help runs natively" || fail "zyrctl --help runs natively"
if [ -z "$(grep -l '^HID_ID=0003:000016C0:000003E8$' /sys/class/hidraw/*/device/uevent 2>/dev/null)" ]; then
    out=$("$BIN/zyrctl" info 2>&1)
    code=$?
    if [ "$code" = 1 ] && [ "$out" = "zyrctl: converter not found: no USB HID device with the converter's identity (16C0:03E8, \"Brantix\" \"ZYR-USB\") is attached" ]; then
        pass "no converter: the Windows message and exit code"
    else
        fail "no converter: the Windows message and exit code" "exit $code: $out"
    fi
fi
staging=$LINUX_BUILD/install-check
rm -rf "$staging"
if cmake --install "$LINUX_BUILD" --prefix "$staging/usr" >/dev/null &&
    [ -x "$staging/usr/bin/zyrctl" ] && [ -f "$staging/usr/lib/udev/rules.d/70-zyr-converter.rules" ] &&
    [ -f "$staging/usr/share/man/man1/zyrctl.1" ] && grep -q 'restore' "$staging/usr/share/man/man1/zyrctl.1"; then
    pass "cmake --install: zyrctl, the udev rule, the manual page"
else
    fail "cmake --install: zyrctl, the udev rule, the manual page"
fi
rm -rf "$LINUX_BUILD/package"
deb=
if (cd "$LINUX_BUILD" && cpack -G DEB >/dev/null 2>&1); then
    deb=$(ls "$LINUX_BUILD"/package/zyrctl_*.deb 2>/dev/null | head -n 1)
fi
[ -n "$deb" ] && dpkg-deb -c "$deb" >"$LINUX_BUILD/package/contents.txt"
if [ -n "$deb" ] && grep -q '\./usr/bin/zyrctl$' "$LINUX_BUILD/package/contents.txt" &&
    grep -q '\./usr/lib/udev/rules.d/70-zyr-converter.rules$' "$LINUX_BUILD/package/contents.txt" &&
    grep -q '\./usr/share/man/man1/zyrctl.1' "$LINUX_BUILD/package/contents.txt"; then
    pass "the Debian package holds zyrctl, the rule and the manual page"
else
    fail "the Debian package holds zyrctl, the rule and the manual page" "${deb:-no package made}"
fi

# --- the Windows zyrctl's backup, over its simulated converter ----------------
mkdir -p "$SHARE"
rm -f "$SHARE"/*.zyr "$SHARE"/*.txt
WINDOWS_ZYRCTL=$ZYR_BUILD/x86_64/app/zyrctl_demo.exe
# windows STATE ARGS: the Windows zyrctl in $SHARE, over a simulated
# converter whose registers live in $SHARE/STATE; file names relative.
windows() {
    (cd "$SHARE" && WINEPREFIX=$LINUX_BUILD/wineprefix WINEARCH=win64 WINEDEBUG=-all ZYR_SIM_STATE=$1 \
        timeout -k 5 300 "$WINE64" "$WINDOWS_ZYRCTL" "${@:2}")
}
cross=1
if [ ! -x "$WINE64" ]; then
    cross=0
    fail "a Windows backup for Linux" "wine64 is not installed"
elif [ ! -f "$WINDOWS_ZYRCTL" ] && ! { zyr_build_windows x86_64 --target zyrctl_demo >/dev/null; }; then
    cross=0
    fail "a Windows backup for Linux" "the x86_64 zyrctl_demo.exe could not be built"
elif windows sim-windows.txt set speed=-2.0 sensor=high --yes >"$SHARE/windows.out" 2>&1 &&
    windows sim-windows.txt backup windows.zyr >>"$SHARE/windows.out" 2>&1; then
    pass "a Windows backup for Linux (zyrctl_demo.exe, x86_64, wine64)"
else
    cross=0
    fail "a Windows backup for Linux" "$(tail -n 3 "$SHARE/windows.out")"
fi

# --- the guest ------------------------------------------------------------------
echo "== preparing the guest (Debian's kernel, busybox initramfs)"
zyr_guest_prepare || zyr_not_tested "the guest could not be prepared: $ZYR_GUEST_ERROR"
echo "== the kernel-stack suite in the guest (kernel $ZYR_GUEST_KVER, qemu without KVM)"
guest_started=$(date +%s)
log=$LINUX_BUILD/kernel_suite.log
ZYR_GUEST_SHARE_RW=$SHARE zyr_guest_run 600 "$ZYR_ROOT/tests/linux/kernel_suite.sh" "$BIN" "$SHARE" | tee "$log"
status=${PIPESTATUS[0]}
echo "guest: boot to power-off in $(($(date +%s) - guest_started)) s"
suite=$(sed -n 's/^SUITE \([0-9]*\) \([0-9]*\)$/\1 \2/p' "$log" | tail -n 1)
if [ -z "$suite" ]; then
    fail "the kernel-stack suite" "it did not finish (guest status $status)"
else
    passed=$((passed + ${suite% *}))
    failed=$((failed + ${suite#* }))
fi

# --- the Linux zyrctl's backup, restored by the Windows one --------------------
if [ "$cross" = 1 ]; then
    if [ ! -f "$SHARE/linux.zyr" ]; then
        fail "a Linux backup restores on Windows" "the guest made no backup"
    elif windows sim-linux.txt restore linux.zyr --yes >"$SHARE/restore.out" 2>&1 &&
        windows sim-linux.txt diff device linux.zyr >"$SHARE/diff.out" 2>&1; then
        pass "a Linux backup restores on Windows (zyrctl diff exits 0)"
    else
        fail "a Linux backup restores on Windows" "$(tail -n 3 "$SHARE/restore.out" "$SHARE/diff.out")"
    fi
fi

echo "Linux stack: $(($(date +%s) - started)) s in all"
finish
