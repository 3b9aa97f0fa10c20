#!/usr/bin/env bash
# Runs the tool, from a fresh Debian 12 machine: installs the packages,
# builds, and starts the demo program on the built-in simulated converter.
# With a display (DISPLAY set) the window opens there for you to use.
# Without one it runs on a virtual display, presses Read Device, and saves
# a screenshot of the result to screenshots/run.png.
set -euo pipefail
source "$(dirname "$0")/env.sh"
trap zyr_stop_all EXIT

zyr_install_packages
# The i686 program is the one that ships; the x86_64 build stands in only
# where this machine cannot start 32-bit programs.
arch=i686
if ! zyr_runs_32bit; then
    echo "This machine does not start 32-bit programs: running the x86_64 build instead"
    arch=x86_64
fi
zyr_build_windows "$arch"
demo="$ZYR_BUILD/$arch/app/zyr_demo.exe"

if [ -n "${DISPLAY:-}" ]; then
    export ZYR_USE_DISPLAY=1
    zyr_start_wine "$arch"
    "$WINE" "$demo"
    exit 0
fi

zyr_start_display
zyr_start_wine "$arch"
"$WINE" "$demo" &
app=$!
"$WINE" "$ZYR_BUILD/$arch/tools/press_button.exe" "Brantix ZYR" 1019 1005 " Read OK" 60000 1021
mkdir -p "$ZYR_ROOT/screenshots"
import -window root -crop 640x480+320+272 +repage "$ZYR_ROOT/screenshots/run.png" 2>/dev/null \
    || import -window root "$ZYR_ROOT/screenshots/run.png"
echo "Screenshot: screenshots/run.png"
kill "$app" 2>/dev/null || true
