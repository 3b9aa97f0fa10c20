# shellcheck shell=bash
# The converter as a real USB device: a HID function of the kernel's USB
# gadget framework (configfs) on dummy_hcd, its firmware the same program
# with --gadget. The device then goes through usbcore and usbhid, and hidapi
# sees the whole USB identity, which a uhid device cannot carry: the match
# of manufacturer, product and release is tested here. Sourced by
# kernel_suite.sh after its uhid cases; uses its helpers.

wire() { sed -n "s/^#define $1 \"*\([^\"]*\)\"*\$/\1/p" "$ROOT/base/converter_wire.h"; }

GADGET=/sys/kernel/config/usb_gadget/zyr

# gadget_up RELEASE: the gadget with the converter's identity and RELEASE
# (bcdDevice), bound to the dummy controller.
gadget_up() {
    local function=$GADGET/functions/hid.usb0
    if [ ! -d "$GADGET" ]; then
        modprobe usbhid && modprobe dummy_hcd && modprobe libcomposite && modprobe usb_f_hid || return 1
        mountpoint -q /sys/kernel/config || mount -t configfs configfs /sys/kernel/config || return 1
        mkdir -p "$GADGET/strings/0x409" "$function" "$GADGET/configs/c.1/strings/0x409" || return 1
        wire ZYR_VENDOR_ID >"$GADGET/idVendor"
        wire ZYR_PRODUCT_ID >"$GADGET/idProduct"
        echo 0x0200 >"$GADGET/bcdUSB"
        wire ZYR_MANUFACTURER >"$GADGET/strings/0x409/manufacturer"
        wire ZYR_PRODUCT >"$GADGET/strings/0x409/product"
        echo ZYRG0 >"$GADGET/strings/0x409/serialnumber"
        echo 0 >"$function/protocol"
        echo 0 >"$function/subclass"
        wire ZYR_REPORT_PAYLOAD >"$function/report_length"
        "$CONVERTER" --report-descriptor >"$function/report_desc"
        echo converter >"$GADGET/configs/c.1/strings/0x409/configuration"
        ln -s "$function" "$GADGET/configs/c.1/" || return 1
    fi
    echo "$1" >"$GADGET/bcdDevice"
    ls /sys/class/udc | head -n 1 >"$GADGET/UDC" || return 1
}

gadget_down() { echo "" >"$GADGET/UDC" 2>/dev/null; }

# start_gadget_converter STATE: the firmware on /dev/hidg0, until the host
# side's hidraw node is there.
start_gadget_converter() {
    local i
    rm -f converter.out
    for i in $(seq 100); do [ -c /dev/hidg0 ] && break; sleep 0.05; done
    "$CONVERTER" --state "$1" --gadget /dev/hidg0 >converter.out 2>converter.err &
    CONVERTER_PID=$!
    wait_node
}

# stop_gadget_converter: ends the firmware and unbinds the gadget, until the
# host side's node is gone.
stop_gadget_converter() {
    end_converter
    gadget_down
    stop_converter
}

if gadget_up "$(wire ZYR_RELEASE_NUMBER)" && start_gadget_converter state.zyr; then
    zyrctl info
    expect "over USB: the whole identity matches" 0 "device path: $NODE" &&
        pass "over USB: the whole identity matches"
    zyrctl backup gadget.zyr
    expect "over USB: backup holds the converter's registers" 0 && same_registers gadget.zyr state.zyr &&
        pass "over USB: backup holds the converter's registers" ||
        fail "over USB: backup holds the converter's registers" "gadget.zyr differs from the converter"
    stop_gadget_converter
    # Another release is another device, whatever its strings.
    if gadget_up 0x0101 && start_gadget_converter state.zyr; then
        zyrctl info
        expect "over USB: release 0101 is not the converter" 1 "converter not found" &&
            pass "over USB: release 0101 is not the converter"
    else
        fail "over USB: release 0101 is not the converter" "the gadget did not come up"
    fi
    stop_gadget_converter
else
    fail "over USB: the whole identity matches" "the USB gadget did not come up: $(cat converter.err 2>/dev/null)"
    gadget_down
fi
