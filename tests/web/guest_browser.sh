# The browser suite inside the Linux guest (run by scripts/test_web.sh
# through zyr_guest_run): udev for plug events, the uhid converter, the
# page served from http://localhost:8000, the browser policy that lets that
# origin use the converter, then browser_test.js. Everything it starts is
# stopped on every path out; the guest is thrown away afterwards anyway.
#
# Environment (passed from the host):
#   ZYR_WEB_PAGE        the built static folder
#   ZYR_WEB_OUT         a folder shared read-write with the host: downloads, screenshots
#   ZYR_WEB_NODE        the folder holding node_modules/playwright-core
#   ZYR_WEB_TESTS       this folder (tests/web)
#   ZYR_UHID_CONVERTER  zyr-uhid-converter
#   ZYR_ZYRCTL          zyrctl for Linux
set -u

# A scratch folder of the guest's own. Not a tmpfs over /tmp: the tree
# under test, and the folders shared with the host, may well be in /tmp.
export TMPDIR=/run/zyr-scratch
export ZYR_CONVERTER=$ZYR_WEB_TESTS/converter_control.sh ZYR_CONVERTER_DIR=$TMPDIR/converter
pids=()
stop_all() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    "$ZYR_CONVERTER" stop 2>/dev/null
    udevadm control --exit 2>/dev/null
}
trap stop_all EXIT

# What a desktop session has and the bare guest lacks: loopback, shared
# memory and scratch space for the browser.
ip link set lo up
mkdir -p /dev/shm "$TMPDIR" /run/udev
mount -t tmpfs -o size=128m tmpfs /dev/shm
mount -t tmpfs -o size=128m tmpfs "$TMPDIR"

# The browser learns of devices that come and go from udev's events.
/lib/systemd/systemd-udevd --daemon >/dev/null 2>&1 || echo "# systemd-udevd did not start"
udevadm trigger --action=add >/dev/null 2>&1
udevadm settle --timeout=10 >/dev/null 2>&1

# The converter may be used by this origin without a chooser: a managed
# policy, in the guest's throw-away overlay only.
mkdir -p /etc/chromium/policies/managed
cat >/etc/chromium/policies/managed/zyr-test.json <<'EOF'
{"WebHidAllowDevicesForUrls":[{"devices":[{"vendor_id":5824,"product_id":1000}],"urls":["http://localhost:8000"]}]}
EOF

"$ZYR_CONVERTER" plug
udevadm settle --timeout=10 >/dev/null 2>&1
if ! grep -qs 'HID_ID=0003:000016C0:000003E8' /sys/class/hidraw/*/device/uevent; then
    echo "FAIL - the uhid converter did not appear as a hidraw device"
    echo "0 passed, 1 failed"
    exit 1
fi

/usr/bin/python3 -m http.server 8000 --bind 127.0.0.1 --directory "$ZYR_WEB_PAGE" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do
    (exec 3<>/dev/tcp/127.0.0.1/8000) 2>/dev/null && break
    sleep 0.1
done

ZYR_PAGE_URL=http://localhost:8000/index.html \
ZYR_PLAYWRIGHT="$ZYR_WEB_NODE/node_modules/playwright-core" \
    timeout -k 5 840 node "$ZYR_WEB_TESTS/browser_test.js"
