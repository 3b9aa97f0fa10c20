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

# Where the set-up leaves what it could not do, one file per part, read by
# the run and test commands (a build that cannot run says why from here).
ZYR_SETUP_NOTES=${ZYR_SETUP_NOTES:-$ZYR_BUILD/setup-notes}

# zyr_setup_note PART [TEXT]: records (or, without TEXT, clears) why PART
# of the set-up could not be done.
zyr_setup_note() {
    mkdir -p "$ZYR_SETUP_NOTES"
    if [ $# -gt 1 ]; then printf '%s\n' "$2" >"$ZYR_SETUP_NOTES/$1"; else rm -f "$ZYR_SETUP_NOTES/$1"; fi
}

# zyr_setup_why PART: the recorded reason, empty when PART was set up.
zyr_setup_why() { cat "$ZYR_SETUP_NOTES/$1" 2>/dev/null || true; }

# zyr_not_tested WHY...: a test script's last line when this machine cannot
# run it, "not tested: WHY", and its exit code 77 (read by scripts/results.sh).
zyr_not_tested() {
    echo "not tested: $*"
    exit 77
}

# zyr_retry TRIES COMMAND...: runs COMMAND until it succeeds, at most TRIES
# times, with a growing pause between tries (ZYR_RETRY_PAUSE seconds, then
# twice that...); the last try's status comes back. A mirror that is being
# synchronised, or a download cut short, usually comes right within a minute.
zyr_retry() {
    local tries=$1 try pause=${ZYR_RETRY_PAUSE:-5} status=0; shift
    for ((try = 1; ; try++)); do
        "$@" && return 0
        status=$?
        [ "$try" -lt "$tries" ] || return $status
        sleep "$pause"
        pause=$((pause * 2))
    done
}

# apt's own reason for a failure, in one line: an unmet dependency where it
# names one, else its last error line.
zyr_apt_reason() {
    local reason
    reason=$(grep -m1 -E '^ *[^ ]+ : (Pre)?Depends: ' "$1" | sed -E 's/^ +//; s/ +/ /g')
    [ -n "$reason" ] || reason=$(grep -E '^(E|Err):' "$1" | tail -n 1 | sed -E 's/^(E|Err): *//; s/ +/ /g')
    [ -n "$reason" ] || reason=$(grep -v '^ *$' "$1" | tail -n 1)
    printf '%s\n' "${reason:-apt-get gave no reason}"
}

# apt-get update, retried while an index fails. An index that still fails
# is not fatal: apt keeps what it fetched (and its older lists), the index
# is named in one line, and the set-up goes on. Once per shell.
zyr_apt_update() {
    [ -z "${ZYR_APT_UPDATED:-}" ] || return 0
    ZYR_APT_UPDATED=1
    local log failed tries=${ZYR_APT_TRIES:-3}
    log=$(mktemp "${TMPDIR:-/tmp}/zyr-apt.XXXXXX")
    if ! zyr_retry "$tries" zyr_apt_logged "$log" update; then
        failed=$(sed -nE 's/ *\[IP: [^]]*\]//; s/^E: Failed to fetch ([^ ]+) +(.*[^ ]) *$/\1 (\2)/p' "$log" | head -n 3 | tr '\n' ' ')
        [ -n "$failed" ] || failed=$(zyr_apt_reason "$log")
        echo "set-up: apt-get update still fails after $tries tries; going on without: ${failed% }"
    fi
    rm -f "$log"
    return 0
}

# zyr_apt_logged LOG ARGS...: apt-get ARGS as root, its output in LOG.
zyr_apt_logged() {
    local log=$1; shift
    zyr_as_root env DEBIAN_FRONTEND=noninteractive apt-get -q "$@" >"$log" 2>&1
}

# zyr_apt_install PACKAGE...: installs those not installed yet, never
# removing anything. A download that fails is tried again (a mirror in
# mid-sync); a refusal (unmet dependencies) is final. On failure one line
# on standard error gives apt's reason, also kept in ZYR_APT_REASON, and
# the status is non-zero.
zyr_apt_install() {
    local missing log try
    missing=$(zyr_missing_packages "$@")
    [ -n "$missing" ] || return 0
    zyr_apt_update
    log=$(mktemp "${TMPDIR:-/tmp}/zyr-apt.XXXXXX")
    for ((try = 1; ; try++)); do
        # shellcheck disable=SC2086  # one word per package
        if zyr_apt_logged "$log" install -y --no-install-recommends --no-remove $missing; then
            rm -f "$log"
            return 0
        fi
        [ "$try" -lt "${ZYR_APT_TRIES:-3}" ] && grep -qE '^(E: Failed to fetch|Err:)' "$log" || break
        sleep $((${ZYR_RETRY_PAUSE:-5} * try))
    done
    ZYR_APT_REASON=$(zyr_apt_reason "$log")
    rm -f "$log"
    echo "could not install" $missing": $ZYR_APT_REASON" >&2
    return 1
}

# The packages of a list that are not installed yet.
zyr_missing_packages() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

# The set-up, in two steps. First everything the x86_64 and native builds,
# the tests and the release need: where the whole list cannot be installed,
# each package is tried alone, those that fail are named, and the builds
# that needed them fail saying so. Then the 32-bit loader on its own: it
# depends on i386 twins of installed libraries that a mirror in mid-sync
# may not offer; without it the i686 program is still built, and the run
# and test commands say why it was not run. Nothing is ever removed.
zyr_install_packages() {
    local p failed=()
    echo "== set-up: packages"
    # shellcheck disable=SC2086  # one word per package
    if ! zyr_apt_install $ZYR_PACKAGES 2>/dev/null; then
        for p in $(zyr_missing_packages $ZYR_PACKAGES); do
            zyr_apt_install "$p" 2>/dev/null || failed+=("$p ($ZYR_APT_REASON)")
        done
        if [ ${#failed[@]} -gt 0 ]; then
            echo "set-up: could not install ${failed[*]}; going on without them"
        fi
    fi
    zyr_install_loader
}

# The 32-bit loader, after the i386 architecture is added. Its reason for
# failing is kept for the run and test commands.
zyr_install_loader() {
    if [ -z "$(zyr_missing_packages $ZYR_PACKAGES_I386)" ]; then
        zyr_setup_note i686
        return 0
    fi
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "Adding the i386 architecture (for the 32-bit Wine loader)"
        zyr_as_root dpkg --add-architecture i386
        ZYR_APT_UPDATED=
    fi
    # shellcheck disable=SC2086  # one word per package
    if zyr_apt_install $ZYR_PACKAGES_I386 2>/dev/null; then
        zyr_setup_note i686
        return 0
    fi
    zyr_setup_note i686 "the 32-bit loader could not be installed: $ZYR_APT_REASON"
    echo "set-up: the 32-bit loader ($ZYR_PACKAGES_I386) could not be installed: $ZYR_APT_REASON"
    return 0
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
    ZYR_APT_UPDATED=
    zyr_apt_update
    local log
    log=$(mktemp "${TMPDIR:-/tmp}/zyr-apt.XXXXXX")
    if ! zyr_retry "${ZYR_APT_TRIES:-3}" zyr_apt_logged "$log" install -y --no-install-recommends --no-remove \
        -t bookworm-backports qemu-user; then
        ZYR_APT_REASON=$(zyr_apt_reason "$log")
        rm -f "$log"
        echo "qemu-user could not be installed: $ZYR_APT_REASON" >&2
        return 1
    fi
    rm -f "$log"
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
# them natively. Fails when neither works, or the loader is not installed,
# with the reason kept for the run and test commands (zyr_setup_why i686).
zyr_ensure_32bit() {
    if [ ! -x "$WINE32" ]; then
        [ -n "$(zyr_setup_why i686)" ] || zyr_setup_note i686 "the 32-bit loader ($WINE32) is not installed"
        return 1
    fi
    zyr_runs_32bit && return 0
    if ! zyr_enable_32bit_emulation || ! zyr_runs_32bit; then
        zyr_setup_note i686 "32-bit programs cannot start on this machine, even under qemu-user"
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

# The current prefix's session: ended (its server and every process in it),
# or begun as a persistent server with a warm-up process, so that each
# program started in it starts fast. Beginning one already running does
# nothing.
zyr_wine_session_end() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
}
zyr_wine_session_begin() {
    "$WINESERVER" -p 2>/dev/null || true
    "$WINE" cmd /c exit >/dev/null 2>&1 || true
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
        zyr_wine_session_end
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
    zyr_wine_session_begin
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
    # Two at a time: the fuzzers natively; under Wine the release test
    # beside the suites, which take the session one by one. A suite that
    # fails fails the run: none is run again to hide it.
    (cd "$ZYR_BUILD/$arch" && ctest --output-on-failure -j 2 "$@")
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
            zyr_wine_session_end
            cp "$out/zyrvbus.sys" "$out/zyrvhid.sys" "$drivers/"
            # Each arriving converter is installed from the system's copy of the INF.
            local inf
            for inf in $(grep -l -i 'ZYRVBUS' "$WINEPREFIX/drive_c/windows/inf/"*.inf 2>/dev/null); do
                cp "$out/zyrvconv.inf" "$inf"
            done
            echo "$sum" >"$WINEPREFIX/zyrvconv.installed"
            # The session persists again, as zyr_start_wine left it.
            zyr_wine_session_begin
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
        zyr_wine_session_end
        zyr_wine_session_begin
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
