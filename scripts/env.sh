# Shared set-up for the run and test commands: packages, builds, and a
# persistent Wine session on a virtual display. Sourced, not run.

ZYR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ZYR_BUILD=${ZYR_BUILD:-$ZYR_ROOT/build}
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
ZYR_PACKAGES="cmake make ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix \
wine64 xvfb xauth imagemagick doctest-dev libcli11-dev nlohmann-json3-dev clang libclang-rt-14-dev x11-utils"

zyr_as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

zyr_install_packages() {
    local missing=()
    for p in $ZYR_PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        zyr_as_root apt-get update -qq
        zyr_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# zyr_build_windows ARCH [extra cmake args]: ARCH is x86_64 or i686.
zyr_build_windows() {
    local arch=$1; shift
    cmake -S "$ZYR_ROOT" -B "$ZYR_BUILD/$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ZYR_ROOT/cmake/mingw-$arch.cmake" -DZYR_WERROR=ON "$@" >/dev/null
    cmake --build "$ZYR_BUILD/$arch"
}

zyr_build_native() {
    cmake -S "$ZYR_ROOT" -B "$ZYR_BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DZYR_WERROR=ON -DZYR_SANITIZE=ON -DZYR_FUZZ=ON >/dev/null
    cmake --build "$ZYR_BUILD/native"
}

# A virtual display of our own, unless ZYR_USE_DISPLAY keeps the user's.
zyr_start_display() {
    if [ -n "${ZYR_USE_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then return; fi
    local n=91
    while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
    Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    ZYR_XVFB_PID=$!
    export DISPLAY=:$n
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
}

# One persistent wineserver and a warm prefix, so each test starts fast.
zyr_start_wine() {
    export WINEPREFIX=${WINEPREFIX:-$ZYR_BUILD/wineprefix}
    export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        "$WINE64" wineboot --init >/dev/null 2>&1 || true
        "$WINESERVER" -w
        # A crash must fail its test, never wait on a dialog.
        "$WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
        # No window manager runs on the virtual display: without this, Wine
        # waits for one each time a window is hidden.
        "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
        "$WINESERVER" -w
    fi
    "$WINESERVER" -p 2>/dev/null || true  # already running for this prefix
    "$WINE64" cmd /c exit >/dev/null 2>&1 || true
}

zyr_stop_all() {
    [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k >/dev/null 2>&1 || true
    [ -n "${ZYR_XVFB_PID:-}" ] && kill "$ZYR_XVFB_PID" >/dev/null 2>&1 || true
}
