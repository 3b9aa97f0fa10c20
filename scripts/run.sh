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
zyr_build_windows x86_64
demo="$ZYR_BUILD/x86_64/app/zyr_demo.exe"

if [ -n "${DISPLAY:-}" ]; then
    export ZYR_USE_DISPLAY=1
    zyr_start_wine
    "$WINE64" "$demo"
    exit 0
fi

zyr_start_display
zyr_start_wine
"$WINE64" "$demo" &
app=$!
"$WINE64" "$ZYR_BUILD/x86_64/tools/press_button.exe" "Brantix ZYR" 1019 1005 " Read OK" 60000 1021
mkdir -p "$ZYR_ROOT/screenshots"
import -window root -crop 640x480+320+272 +repage "$ZYR_ROOT/screenshots/run.png" 2>/dev/null \
    || import -window root "$ZYR_ROOT/screenshots/run.png"
echo "Screenshot: screenshots/run.png"
kill "$app" 2>/dev/null || true
