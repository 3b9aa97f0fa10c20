/* The converter on the wire, stated once for every part that speaks to it
 * or stands in for it: the Windows programs, the simulated bus, the
 * virtual converter's drivers (C), the Linux programs and tests. C and C++.
 *
 * Every report, both ways, is one unnumbered report of 8 payload bytes.
 * Windows (and this project's report buffers) put the report-ID byte 0 in
 * front of them, so a request is 00 <command> <address> <value> 00 00 00 00
 * 00 and a reply carries the register's value in byte 3. */
#ifndef ZYR_CONVERTER_WIRE_H
#define ZYR_CONVERTER_WIRE_H

/* A write request: store byte 3 in the register named by byte 2; no reply. */
#define ZYR_COMMAND_WRITE_REGISTER 1
/* A read request: one input report answers it, the value in byte 3. */
#define ZYR_COMMAND_READ_REGISTER 2

/* Payload bytes of every report, after its report-ID byte. */
#define ZYR_REPORT_PAYLOAD 8
/* A report as the programs' buffers hold it: report-ID byte, then payload. */
#define ZYR_REPORT_LENGTH (ZYR_REPORT_PAYLOAD + 1)

/* The USB identity. */
#define ZYR_VENDOR_ID 0x16C0
#define ZYR_PRODUCT_ID 0x03E8
#define ZYR_RELEASE_NUMBER 0x0100
#define ZYR_MANUFACTURER "Brantix"
#define ZYR_PRODUCT "ZYR-USB"
/* The HID collection: vendor-defined page, usage 1. */
#define ZYR_USAGE_PAGE 0xFF00
#define ZYR_USAGE 0x0001

/* The string as a wide literal: ZYR_WIDE(ZYR_PRODUCT) is L"ZYR-USB". */
#define ZYR_WIDE_(text) L##text
#define ZYR_WIDE(text) ZYR_WIDE_(text)

/* The report descriptor: a vendor-defined collection with one input and one
 * output report of ZYR_REPORT_PAYLOAD bytes (0 to 255 each), no report ID. */
#define ZYR_REPORT_DESCRIPTOR_BYTES                                                                                    \
    0x06, 0x00, 0xff, /* usage page 0xFF00 */                                                                          \
        0x09, 0x01, /* usage 1 */                                                                                      \
        0xa1, 0x01, /* application collection */                                                                       \
        0x09, 0x02, 0x15, 0x00, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, ZYR_REPORT_PAYLOAD, 0x81, 0x02, /* input */        \
        0x09, 0x03, 0x15, 0x00, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, ZYR_REPORT_PAYLOAD, 0x91, 0x02, /* output */       \
        0xc0
/* Where the report count of each report stands in those bytes. */
#define ZYR_REPORT_DESCRIPTOR_INPUT_COUNT_AT 17
#define ZYR_REPORT_DESCRIPTOR_OUTPUT_COUNT_AT 30

#endif
