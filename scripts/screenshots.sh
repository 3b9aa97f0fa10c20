#!/usr/bin/env bash
# Screenshots of the main dialog in its typical states (start, after reading
# a VSS+ECT converter with firmware 12300, one with firmware 10005 and the
# High to Low unlock, a VSS converter, busy half-way through a read, the
# range error), taken on a virtual display over the simulated converter.
#
#   bash scripts/screenshots.sh [output folder]     (default: screenshots/)
#
# The dialog runs inside a Wine virtual desktop, so Wine draws the title
# bar and frame that a window manager would.
source "$(dirname "$0")/session_command.sh"

out=$(realpath -m "${1:-$ZYR_ROOT/screenshots}")
mkdir -p "$out"
poser="$ZYR_BUILD/x86_64/tests/app/app_screenshot_states.exe"
[ -f "$poser" ] || zyr_build_windows x86_64 >/dev/null
[ -f "$poser" ] || { echo "no $poser" >&2; exit 1; }

zyr_start_display
zyr_start_wine x86_64

signals=$(mktemp -d)
desktop=800x600
"$WINE" explorer /desktop=zyrshots,$desktop "$poser" "Z:${signals//\//\\}" &
poser_pid=$!

states="start read-vss-ect-12300 read-vss-ect-10005-unlocked read-vss-12300 busy range-error"
for state in $states; do
    for _ in $(seq 600); do
        [ -e "$signals/$state.ready" ] && break
        kill -0 "$poser_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -e "$signals/$state.ready" ]; then
        echo "the dialog never reached \"$state\"" >&2
        exit 1
    fi
    # The virtual desktop's window, trimmed to what stands on its background.
    import -window root -crop "$desktop+0+0" +repage "$signals/$state.png"
    convert "$signals/$state.png" -trim +repage -bordercolor white -border 8 "$out/$state.png"
    echo "$out/$state.png"
    touch "$signals/$state.done"
done
wait "$poser_pid" || true
rm -rf "$signals"
