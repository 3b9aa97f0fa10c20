#!/usr/bin/env bash
# Runs the tool, from a fresh Debian 12 machine: installs the packages,
# builds, installs the virtual converter (vconv/) into the build's Wine
# prefix, plugs converter 0 with the VSS+ECT 12300 default image, and
# starts the shipped zyr.exe over Wine's own HID stack (the x86_64 build of
# it, saying why, where the 32-bit loader cannot be installed or run). Where the virtual
# converter cannot be installed, it says so and starts the demo program on
# the built-in simulated converter instead.
# With a display (DISPLAY set) the window opens there for you to use.
# Without one it runs on a virtual display, presses Read Device, and saves
# a screenshot of the result to screenshots/run.png.
source "$(dirname "$0")/session_command.sh"

zyr_install_packages
# The i686 program is the one that ships; the x86_64 build of the same
# sources stands in where this machine cannot start 32-bit programs.
arch=i686
if ! zyr_ensure_32bit; then
    echo "Running the x86_64 build of zyr.exe instead of the shipped i686 one: $(zyr_setup_why i686)"
    arch=x86_64
fi
zyr_build_windows "$arch"

if [ -n "${DISPLAY:-}" ]; then
    export ZYR_USE_DISPLAY=1
else
    zyr_start_display
fi
zyr_start_wine "$arch"

program="$ZYR_BUILD/$arch/app/zyr.exe"
if zyr_install_vconv "$arch"; then
    echo "Starting zyr.exe over the virtual converter in $WINEPREFIX (control it with $ZYR_BUILD/$arch/vconv/zyrvc.exe)"
else
    echo "The virtual converter could not be installed in $WINEPREFIX:" \
         "starting the demo, zyr_demo.exe, on the built-in simulated converter instead"
    program="$ZYR_BUILD/$arch/app/zyr_demo.exe"
fi

if [ -n "${ZYR_USE_DISPLAY:-}" ]; then
    "$WINE" "$program"
    exit 0
fi

"$WINE" "$program" &
app=$!
"$WINE" "$ZYR_BUILD/$arch/tools/press_button.exe" "Brantix ZYR" 1019 1005 " Read OK" 60000 1021
mkdir -p "$ZYR_ROOT/screenshots"
import -window root -crop 640x480+320+272 +repage "$ZYR_ROOT/screenshots/run.png" 2>/dev/null \
    || import -window root "$ZYR_ROOT/screenshots/run.png"
echo "Screenshot: screenshots/run.png"
kill "$app" 2>/dev/null || true
