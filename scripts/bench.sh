#!/usr/bin/env bash
# The benchmark, by hand: Read, Write and Format Device over the simulated
# converter (zyr_bench.exe), then the same code bound to Win32 over the
# virtual converter in Wine's own HID stack, and zyrctl backup over both
# (zyr_bench_vconv.exe). Each converter charges 1 ms per report.
#
#   bash scripts/bench.sh [i686|x86_64]     (default i686, the program that ships)
source "$(dirname "$0")/session_command.sh"

arch=${1:-i686}
zyr_build_windows "$arch" >/dev/null
zyr_start_display
zyr_start_wine "$arch"
zyr_install_vconv "$arch" >/dev/null
echo "== $arch: the simulated converter"
"$WINE" "$ZYR_BUILD/$arch/bench/zyr_bench.exe"
echo "== $arch: Wine's HID stack and the virtual converter"
"$WINE" "$ZYR_BUILD/$arch/bench/zyr_bench_vconv.exe"
