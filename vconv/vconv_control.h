/* The virtual converter's control channel: requests a program sends with
 * DeviceIoControl to the bus driver's control device, \\.\ZyrVconv. Shared by
 * the kernel-mode bus driver (C) and the user-mode control tool (C++); every
 * field has a fixed width, so both widths read the same layout. */
#pragma once

#define ZYRV_CONTROL_PATH "\\\\.\\ZyrVconv"
#define ZYRV_MAX_CONVERTERS 4
#define ZYRV_TRAFFIC_CAPACITY 8192

#define ZYRV_CTL(n) CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900 + (n), METHOD_BUFFERED, FILE_ANY_ACCESS)
#define ZYRV_IOCTL_PLUG ZYRV_CTL(0) /* in: ZyrvPlug */
#define ZYRV_IOCTL_UNPLUG ZYRV_CTL(1) /* in: ZyrvSlot */
#define ZYRV_IOCTL_SET_REGISTERS ZYRV_CTL(2) /* in: ZyrvRegisters */
#define ZYRV_IOCTL_GET_REGISTERS ZYRV_CTL(3) /* in: ZyrvSlot, out: ZyrvRegisters */
#define ZYRV_IOCTL_SET_FAULTS ZYRV_CTL(4) /* in: ZyrvFaults */
#define ZYRV_IOCTL_SET_PACING ZYRV_CTL(5) /* in: ZyrvSlot (slot = 1 on, 0 off) */
#define ZYRV_IOCTL_GET_TRAFFIC ZYRV_CTL(6) /* in: ZyrvSlot (first entry), out: ZyrvTraffic */
#define ZYRV_IOCTL_CLEAR_TRAFFIC ZYRV_CTL(7) /* no data */
#define ZYRV_IOCTL_GET_STATUS ZYRV_CTL(8) /* out: ZyrvStatus */

/* What the converter shows the system about itself. */
enum {
    ZYRV_IDENTITY_CONVERTER = 0, /* the converter as it ships */
    ZYRV_IDENTITY_RELEASE_0101 = 1,
    ZYRV_IDENTITY_MAKER_CASE = 2, /* manufacturer "BRANTIX" */
    ZYRV_IDENTITY_REPORTS_16 = 3, /* 16-byte reports each way */
    ZYRV_IDENTITY_COUNT = 4
};

typedef struct {
    unsigned int slot;
} ZyrvSlot;

typedef struct {
    unsigned int slot;
    unsigned int identity;
    unsigned int keepRegisters; /* 1: replug with the registers it held */
    unsigned char registers[256];
} ZyrvPlug;

typedef struct {
    unsigned int slot;
    unsigned char registers[256];
} ZyrvRegisters;

/* Faults of one converter; a negative number switches that fault off. */
typedef struct {
    unsigned int slot;
    int silent; /* 1: read requests get no reply */
    int lateMs; /* delay of replies, 0 none */
    int lateAt; /* only replies for this register are late; -1 any */
    int lateTimes; /* that many late replies, then on time; 0 for ever */
    int wrongAt; /* replies for this register carry another value; -1 none */
    int unplugAfter; /* unplugged at the request after this many; -1 never */
} ZyrvFaults;

/* One report on the wire. */
typedef struct {
    unsigned int tickLow; /* 100 ns units of the system time */
    unsigned int tickHigh;
    unsigned char slot;
    unsigned char direction; /* 0 request (out), 1 reply (in) */
    unsigned char command;
    unsigned char address;
    unsigned char value;
    unsigned char pad[3];
} ZyrvTrafficEntry;

#define ZYRV_TRAFFIC_CHUNK 1024
typedef struct {
    unsigned int total; /* entries recorded since the last clear */
    unsigned int first; /* index of entries[0] */
    unsigned int count; /* entries in this answer */
    unsigned int pad;
    ZyrvTrafficEntry entries[ZYRV_TRAFFIC_CHUNK];
} ZyrvTraffic;

typedef struct {
    unsigned int plugged; /* 1: on the bus */
    unsigned int present; /* 1: the system has its device object */
    unsigned int identity;
    unsigned int requests; /* requests since it was plugged */
} ZyrvConverterStatus;

typedef struct {
    unsigned int version; /* of this interface */
    unsigned int pacing;
    ZyrvConverterStatus converters[ZYRV_MAX_CONVERTERS];
} ZyrvStatus;

#define ZYRV_INTERFACE_VERSION 1
