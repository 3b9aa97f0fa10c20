# shellcheck shell=bash
# Shared set-up for the run and test commands: packages, builds, and a
# persistent Wine session per Windows build on a virtual display. Sourced,
# not run.
#
# The two Windows builds run under different Wine loaders, each in a prefix
# of its own kept inside its build folder:
#   i686   (the program that ships)  /usr/lib/wine/wine    WINEARCH=win32  build/i686/wineprefix
#   x86_64                           /usr/lib/wine/wine64  WINEARCH=win64  build/x86_64/wineprefix
# The build folders' CTest files carry the same loader and prefix, so ctest
# run by hand in a build folder uses the right ones too.

ZYR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ZYR_BUILD=${ZYR_BUILD:-$ZYR_ROOT/build}
WINE32=/usr/lib/wine/wine
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
# Parallel compile jobs (the machines have two cores).
ZYR_JOBS=${ZYR_JOBS:-2}
ZYR_PACKAGES="cmake make ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix \
wine64 xvfb xauth imagemagick doctest-dev libcli11-dev nlohmann-json3-dev clang clang-format libclang-rt-14-dev x11-utils \
nsis zip unzip osslsigncode openssl"
# The 32-bit loader. --no-remove: it brings matching versions of a few
# amd64 libraries, and must never take anything away to do so.
ZYR_PACKAGES_I386="wine32:i386"
# Where the machine refuses 32-bit programs, they run under user-mode
# emulation; bookworm's own qemu-user takes minutes to start each Wine
# process, the backports one seconds.
ZYR_BACKPORTS_LIST=/etc/apt/sources.list.d/zyr-bookworm-backports.sources
ZYR_QEMU_BINFMT=/usr/share/qemu/binfmt.d/qemu-i386.conf
ZYR_BINFMT_DIR=/proc/sys/fs/binfmt_misc

zyr_as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# The packages of a list that are not installed yet.
zyr_missing_packages() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

zyr_install_packages() {
    local missing
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "Adding the i386 architecture (for the 32-bit Wine loader)"
        zyr_as_root dpkg --add-architecture i386
        ZYR_APT_UPDATED=
    fi
    missing=$(zyr_missing_packages $ZYR_PACKAGES $ZYR_PACKAGES_I386)
    if [ -n "$missing" ]; then
        echo "Installing:" $missing
        if [ -z "${ZYR_APT_UPDATED:-}" ]; then
            zyr_as_root apt-get update -qq
            ZYR_APT_UPDATED=1
        fi
        # shellcheck disable=SC2086  # one word per package
        zyr_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
            --no-install-recommends --no-remove $missing >/dev/null
    fi
}

# Whether this machine starts 32-bit programs (natively or through an
# emulator already registered with binfmt_misc).
zyr_runs_32bit() {
    "$WINE32" --version >/dev/null 2>&1
}

# For machines that refuse 32-bit programs: qemu-user from bookworm-backports,
# registered with binfmt_misc through its own i386 entry. The existing apt
# sources are left as they are; backports come from one file of their own,
# and apt takes from it only what is asked for with -t.
zyr_enable_32bit_emulation() {
    echo "This machine does not start 32-bit programs: setting up qemu-user for them"
    if [ ! -f "$ZYR_BACKPORTS_LIST" ]; then
        zyr_as_root tee "$ZYR_BACKPORTS_LIST" >/dev/null <<'EOF'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    fi
    zyr_as_root apt-get update -qq || return 1
    zyr_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends --no-remove -t bookworm-backports qemu-user >/dev/null || return 1
    if [ ! -f "$ZYR_QEMU_BINFMT" ]; then
        echo "qemu-user installed no $ZYR_QEMU_BINFMT" >&2
        return 1
    fi
    if [ ! -e "$ZYR_BINFMT_DIR/register" ]; then
        zyr_as_root mount -t binfmt_misc binfmt_misc "$ZYR_BINFMT_DIR" || return 1
    fi
    # The file holds one registration line, ":name:type:offset:magic:mask:
    # interpreter:flags", as the kernel takes it. An entry of the same name
    # registered before (perhaps with an older interpreter) gives way to it.
    local line entry
    line=$(grep -m1 '^:' "$ZYR_QEMU_BINFMT")
    entry=$(printf '%s\n' "$line" | cut -d: -f2)
    if [ -z "$entry" ]; then
        echo "no registration line in $ZYR_QEMU_BINFMT" >&2
        return 1
    fi
    if [ -e "$ZYR_BINFMT_DIR/$entry" ]; then
        printf '%s\n' -1 | zyr_as_root tee "$ZYR_BINFMT_DIR/$entry" >/dev/null || return 1
    fi
    printf '%s\n' "$line" | zyr_as_root tee "$ZYR_BINFMT_DIR/register" >/dev/null
}

# Makes sure 32-bit programs start, by emulation where the machine refuses
# them natively; fails when neither works.
zyr_ensure_32bit() {
    zyr_runs_32bit && return 0
    if ! zyr_enable_32bit_emulation || ! zyr_runs_32bit; then
        echo "32-bit programs cannot start on this machine, even under qemu-user:" >&2
        "$WINE32" --version >&2 || true
        return 1
    fi
}

# The Wine loader and prefix architecture of a Windows build.
zyr_wine_loader() { if [ "$1" = i686 ]; then echo "$WINE32"; else echo "$WINE64"; fi; }
zyr_wine_arch() { if [ "$1" = i686 ]; then echo win32; else echo win64; fi; }
zyr_wine_prefix() { echo "$ZYR_BUILD/$1/wineprefix"; }

# The configurations are CMakePresets.json's (native, i686, x86_64), so
# `cmake --preset i686` by hand makes the same build; the folder is
# $ZYR_BUILD/<preset>, build/<preset> unless ZYR_BUILD says otherwise.

# zyr_build_windows ARCH [extra cmake args]: ARCH is x86_64 or i686.
zyr_build_windows() {
    local arch=$1; shift
    (cd "$ZYR_ROOT" && cmake --preset "$arch" -B "$ZYR_BUILD/$arch" \
        -DZYR_WINEPREFIX="$(zyr_wine_prefix "$arch")" "$@" >/dev/null)
    cmake --build "$ZYR_BUILD/$arch" -j "$ZYR_JOBS"
}

zyr_build_native() {
    (cd "$ZYR_ROOT" && cmake --preset native -B "$ZYR_BUILD/native" >/dev/null)
    cmake --build "$ZYR_BUILD/native" -j "$ZYR_JOBS"
}

# A virtual display of our own, unless ZYR_USE_DISPLAY keeps the user's.
# Set before any wineserver starts: Wine's display driver takes it from there.
# Two scripts (or two builds' test runs) may start one at the same moment:
# a number another Xvfb took first makes ours exit, and the next is tried.
zyr_start_display() {
    if [ -n "${ZYR_USE_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then return; fi
    if [ -n "${ZYR_XVFB_PID:-}" ]; then return; fi
    local n=91 try
    for try in $(seq 20); do
        while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
        Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        ZYR_XVFB_PID=$!
        for _ in $(seq 50); do
            kill -0 "$ZYR_XVFB_PID" 2>/dev/null || break
            [ -e /tmp/.X11-unix/X$n ] && break
            sleep 0.1
        done
        # Ours, and still running once the socket is there.
        sleep 0.2
        if kill -0 "$ZYR_XVFB_PID" 2>/dev/null && [ -e /tmp/.X11-unix/X$n ]; then
            export DISPLAY=:$n
            return 0
        fi
        kill "$ZYR_XVFB_PID" >/dev/null 2>&1 || true
        ZYR_XVFB_PID=
        n=$((n + 1))
    done
    echo "No virtual display could be started (Xvfb)" >&2
    return 1
}

# Prefixes whose wineserver this shell started, for zyr_stop_all.
ZYR_WINE_PREFIXES=()

# zyr_start_wine ARCH: the build's prefix (created on first use), one
# persistent wineserver for it and a warm-up process, so each test starts
# fast. Exports WINE (the loader), WINEPREFIX and WINEARCH for that build.
zyr_start_wine() {
    local arch=${1:-x86_64}
    export WINE WINEPREFIX WINEARCH
    WINE=$(zyr_wine_loader "$arch")
    WINEPREFIX=$(zyr_wine_prefix "$arch")
    WINEARCH=$(zyr_wine_arch "$arch")
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    # A prefix made by another loader cannot serve this one (a win64 prefix
    # made before the 32-bit loader existed cannot load 32-bit programs).
    if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q "^#arch=$WINEARCH" "$WINEPREFIX/system.reg"; then
        echo "Replacing $WINEPREFIX: not a $WINEARCH prefix"
        "$WINESERVER" -k >/dev/null 2>&1 || true
        "$WINESERVER" -w >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    # Recorded before the first Wine command, so that an interrupted set-up
    # still has its wineserver stopped on exit.
    ZYR_WINE_PREFIXES+=("$WINEPREFIX")
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        "$WINE" wineboot --init >/dev/null 2>&1 || true
        "$WINESERVER" -w
        # A crash must fail its test, never wait on a dialog.
        "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
        # No window manager runs on the virtual display: without this, Wine
        # waits for one each time a window is hidden.
        "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
        "$WINESERVER" -w
    fi
    "$WINESERVER" -p 2>/dev/null || true  # already running for this prefix
    "$WINE" cmd /c exit >/dev/null 2>&1 || true
}

# zyr_ctest ARCH [ctest args]: every suite of one build (native, i686 or
# x86_64), already built, on the display and Wine session it needs.
zyr_ctest() {
    local arch=$1; shift
    if [ "$arch" != native ]; then
        zyr_start_display
        zyr_start_wine "$arch"
        # Without it the suite that needs it fails, saying why.
        zyr_install_vconv "$arch" || echo "the virtual converter could not be installed in $WINEPREFIX" >&2
    fi
    # Under Wine a suite that passed every case has, rarely, crashed in
    # Wine's own code as its process ended; a Windows suite that fails is
    # run once more, and the first failure stays in the log. A fault of
    # ours fails both runs.
    local retry=()
    [ "$arch" = native ] || retry=(--repeat until-pass:2)
    # Two at a time: the fuzzers natively; under Wine the release test
    # beside the suites, which take the session one by one.
    (cd "$ZYR_BUILD/$arch" && ctest --output-on-failure -j 2 "${retry[@]}" "$@")
}

# Ends the wineservers this shell started (and so their processes).
zyr_stop_wine() {
    local prefix
    for prefix in "${ZYR_WINE_PREFIXES[@]}"; do
        WINEPREFIX=$prefix "$WINESERVER" -k >/dev/null 2>&1 || true
    done
    ZYR_WINE_PREFIXES=()
}

zyr_stop_all() {
    zyr_stop_wine
    [ -n "${ZYR_XVFB_PID:-}" ] && kill "$ZYR_XVFB_PID" >/dev/null 2>&1 || true
    ZYR_XVFB_PID=
}

# zyr_install_vconv ARCH: the virtual converter (vconv/) in the build's
# prefix, once: the root bus device and both drivers are installed the
# first time; later, only driver files that changed are copied, with the
# prefix's server stopped (a running one keeps the old ones loaded). Then
# converter 0 is plugged with the VSS+ECT 12300 default image, unless one
# is plugged already. Needs zyr_start_wine ARCH first.
zyr_install_vconv() {
    local arch=$1 out="$ZYR_BUILD/$1/vconv" drivers sum
    drivers="$WINEPREFIX/drive_c/windows/system32/drivers"
    [ -f "$out/zyrvc.exe" ] || { echo "no virtual converter built in $out" >&2; return 1; }
    sum=$(cat "$out/zyrvbus.sys" "$out/zyrvhid.sys" "$out/zyrvconv.inf" | sha256sum | cut -d' ' -f1)
    if [ -f "$WINEPREFIX/zyrvconv.installed" ]; then
        if [ "$(cat "$WINEPREFIX/zyrvconv.installed")" != "$sum" ]; then
            "$WINESERVER" -k >/dev/null 2>&1 || true
            "$WINESERVER" -w >/dev/null 2>&1 || true
            cp "$out/zyrvbus.sys" "$out/zyrvhid.sys" "$drivers/"
            # Each arriving converter is installed from the system's copy of the INF.
            local inf
            for inf in $(grep -l -i 'ZYRVBUS' "$WINEPREFIX/drive_c/windows/inf/"*.inf 2>/dev/null); do
                cp "$out/zyrvconv.inf" "$inf"
            done
            echo "$sum" >"$WINEPREFIX/zyrvconv.installed"
            # The session persists again, as zyr_start_wine left it.
            "$WINESERVER" -p 2>/dev/null || true
            "$WINE" cmd /c exit >/dev/null 2>&1 || true
        fi
    else
        (cd "$out" && "$WINE" zyrvc.exe install zyrvconv.inf) || return 1
        echo "$sum" >"$WINEPREFIX/zyrvconv.installed"
    fi
    local try
    for try in 1 2; do
        zyr_plug_vconv "$out" && return 0
        # Not listed in time (a session that started slowly): start a new
        # session and plug again.
        echo "the virtual converter did not appear in $WINEPREFIX (try $try)" >&2
        "$WINESERVER" -k >/dev/null 2>&1 || true
        "$WINESERVER" -w >/dev/null 2>&1 || true
        "$WINESERVER" -p 2>/dev/null || true
        "$WINE" cmd /c exit >/dev/null 2>&1 || true
    done
    return 1
}

# Converter 0 plugged once the bus has settled after the session's start,
# and listed by the system within 10 seconds.
zyr_plug_vconv() {
    local out=$1
    for _ in $(seq 50); do "$WINE" "$out/zyrvc.exe" status >/dev/null 2>&1 && break; sleep 0.2; done
    sleep 2
    "$WINE" "$out/zyrvc.exe" plug 0 >/dev/null 2>&1 || true
    "$WINE" "$out/zyrvc.exe" wait 1 10000
}
