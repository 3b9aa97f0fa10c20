/* The HID minidriver interface of hidclass.sys, declared from its documented
 * layouts: the toolchain's copy of these codes is wrong and it has no
 * minidriver header at all. Kernel mode, plain C. */
#pragma once

#include <ntddk.h>

#define ZYRV_HID_REVISION 1
#define ZYRV_HID_HID_DESCRIPTOR_TYPE 0x21
#define ZYRV_HID_REPORT_DESCRIPTOR_TYPE 0x22

/* Internal requests hidclass sends to a minidriver: device type keyboard
 * (0x0b), no buffering, any access. */
#define ZYRV_HID_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define ZYRV_IOCTL_HID_GET_DEVICE_DESCRIPTOR ZYRV_HID_CTL_CODE(0)
#define ZYRV_IOCTL_HID_GET_REPORT_DESCRIPTOR ZYRV_HID_CTL_CODE(1)
#define ZYRV_IOCTL_HID_READ_REPORT ZYRV_HID_CTL_CODE(2)
#define ZYRV_IOCTL_HID_WRITE_REPORT ZYRV_HID_CTL_CODE(3)
#define ZYRV_IOCTL_HID_GET_STRING ZYRV_HID_CTL_CODE(4)
#define ZYRV_IOCTL_HID_ACTIVATE_DEVICE ZYRV_HID_CTL_CODE(7)
#define ZYRV_IOCTL_HID_DEACTIVATE_DEVICE ZYRV_HID_CTL_CODE(8)
#define ZYRV_IOCTL_HID_GET_DEVICE_ATTRIBUTES ZYRV_HID_CTL_CODE(9)
#define ZYRV_IOCTL_HID_SET_OUTPUT_REPORT ZYRV_HID_CTL_CODE(101)

/* String ids: Windows asks with 14, 15, 16; some stacks with 1, 2, 3. */
#define ZYRV_HID_STRING_MANUFACTURER 14
#define ZYRV_HID_STRING_PRODUCT 15
#define ZYRV_HID_STRING_SERIAL 16

typedef struct {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} ZYRV_HID_MINIDRIVER_REGISTRATION;

/* hidclass's extension of the device objects it creates for a minidriver. */
typedef struct {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} ZYRV_HID_DEVICE_EXTENSION;

#pragma pack(push, 1)
typedef struct {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    UCHAR bReportType;
    USHORT wReportLength;
} ZYRV_HID_DESCRIPTOR;
#pragma pack(pop)

typedef struct {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} ZYRV_HID_DEVICE_ATTRIBUTES;

typedef struct {
    PUCHAR reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
} ZYRV_HID_XFER_PACKET;

NTSTATUS NTAPI HidRegisterMinidriver(ZYRV_HID_MINIDRIVER_REGISTRATION *registration);
