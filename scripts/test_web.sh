#!/usr/bin/env bash
# The browser suite: builds the page (the portable core in WebAssembly with
# Debian's emscripten) into $ZYR_BUILD/web/page, then, in a throw-away Linux
# guest (scripts/linux_guest.sh), drives Debian's chromium against a
# converter that the guest's kernel presents through uhid. Screenshots go
# to screenshots/web-*.png. zyrctl for Linux and the uhid converter are
# built too ($ZYR_BUILD/web/linux): backups cross between zyrctl and the page.
#
#     bash scripts/test_web.sh
#
# Last line: "<N> passed, <M> failed" (exit 0 or 1), or "not tested: <why>"
# (exit 77) when this machine cannot run it.
set -u
source "$(dirname "$0")/env.sh"

WEB_BUILD=$ZYR_BUILD/web
WEB_PAGE=$WEB_BUILD/cmake/page
WEB_NODE=$WEB_BUILD/node
WEB_OUT=$WEB_BUILD/out


# The guest's kernel, qemu and busybox; emscripten, Debian's chromium and
# udev (for plug events in the guest); clang and hidapi for zyrctl for
# Linux and the uhid converter.
packages="emscripten chromium udev qemu-system-x86 busybox-static cpio kmod iproute2 python3 \
cmake ninja-build clang libhidapi-dev"
# shellcheck disable=SC2086  # one word per package
if ! reason=$(zyr_apt_install $packages 2>&1); then
    zyr_not_tested "${ZYR_APT_REASON:-${reason//$'\n'/ }}"
fi

# Debian's emscripten finds its JavaScript optimiser (node-acorn) through
# NODE_PATH when node is not Debian's own.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

echo "== browser: building the page"
if ! (emcmake cmake -S "$ZYR_ROOT" -B "$WEB_BUILD/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null &&
    cmake --build "$WEB_BUILD/cmake" -j "$ZYR_JOBS"); then
    echo "the page did not build"
    echo "0 passed, 1 failed"
    exit 1
fi

echo "== browser: building zyrctl for Linux and the uhid converter"
if ! (cd "$ZYR_ROOT" && cmake --preset linux -B "$WEB_BUILD/linux" >/dev/null) ||
    ! cmake --build "$WEB_BUILD/linux" -j "$ZYR_JOBS" --target zyrctl zyr-uhid-converter >/dev/null; then
    echo "zyrctl for Linux did not build"
    echo "0 passed, 1 failed"
    exit 1
fi

# The browser driver, as the lock file pins it.
if [ ! -f "$WEB_NODE/node_modules/playwright-core/package.json" ] ||
    ! cmp -s "$ZYR_ROOT/tests/web/package-lock.json" "$WEB_NODE/package-lock.json"; then
    mkdir -p "$WEB_NODE"
    cp "$ZYR_ROOT/tests/web/package.json" "$ZYR_ROOT/tests/web/package-lock.json" "$WEB_NODE/"
    zyr_retry 3 bash -c 'cd "$1" && npm ci --no-audit --no-fund --silent >/dev/null 2>&1' _ "$WEB_NODE" ||
        zyr_not_tested "the browser driver (npm playwright-core) could not be installed"
fi

# The page over a scripted WebHID device, in chromium on this machine: the
# cases the kernel cannot make and emulation makes too slow.
echo "== browser: the page on this machine over a scripted device"
host_log=$WEB_BUILD/host.log
ZYR_PAGE_DIR=$WEB_PAGE ZYR_PLAYWRIGHT=$WEB_NODE/node_modules/playwright-core ZYR_WEB_OUT=$WEB_BUILD/host-out \
    timeout -k 5 300 node "$ZYR_ROOT/tests/web/host_test.js" 2>&1 | tee "$host_log"

source "$ZYR_ROOT/scripts/linux_guest.sh"
zyr_guest_prepare || zyr_not_tested "$ZYR_GUEST_ERROR"

rm -rf "$WEB_OUT"
mkdir -p "$WEB_OUT"
export ZYR_WEB_PAGE=$WEB_PAGE ZYR_WEB_OUT=$WEB_OUT ZYR_WEB_NODE=$WEB_NODE ZYR_WEB_TESTS=$ZYR_ROOT/tests/web
export ZYR_UHID_CONVERTER=$WEB_BUILD/linux/linux/zyr-uhid-converter ZYR_ZYRCTL=$WEB_BUILD/linux/linux/zyrctl
export ZYR_GUEST_PASS_ENV="ZYR_WEB_PAGE ZYR_WEB_OUT ZYR_WEB_NODE ZYR_WEB_TESTS ZYR_UHID_CONVERTER ZYR_ZYRCTL"
export ZYR_GUEST_SHARE_RW=$WEB_OUT
# The browser needs more memory than the guest's default.
export ZYR_GUEST_MEMORY=${ZYR_GUEST_MEMORY_WEB:-2048}

echo "== browser: chromium in the guest against the uhid converter"
log=$WEB_BUILD/guest.log
started=$(date +%s)
zyr_guest_run 900 "$ZYR_ROOT/tests/web/guest_browser.sh" | tee "$log"
status=${PIPESTATUS[0]}
echo "# the guest ran $(($(date +%s) - started)) s"

mkdir -p "$ZYR_ROOT/screenshots"
rm -f "$ZYR_ROOT/screenshots"/web-*.png
cp "$WEB_OUT"/web-*.png "$ZYR_ROOT/screenshots/" 2>/dev/null

passed=$(cat "$host_log" "$log" | grep -c '^ok - ')
failed=$(cat "$host_log" "$log" | grep -c '^FAIL - ')
if ! grep -q ' passed, ' "$host_log"; then
    echo "FAIL - the host suite ended before it reported"
    failed=$((failed + 1))
fi
if [ "$status" != 0 ] && [ "$failed" = 0 ]; then
    echo "FAIL - the guest ended with status $status before the browser test reported"
    failed=1
fi
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
