/* zyrvhid.sys: the HID minidriver of the virtual ZYR converter. hidclass.sys
 * owns the device; this driver registers with it and passes every request
 * down to the converter's device object on the bus (zyrvbus.sys), which
 * answers them as the converter's firmware would. */
#include <ntddk.h>

#include "hid_minidriver.h"

static DEVICE_OBJECT *Lower(DEVICE_OBJECT *device)
{
    return ((ZYRV_HID_DEVICE_EXTENSION *)device->DeviceExtension)->NextDeviceObject;
}

static NTSTATUS NTAPI PassDown(DEVICE_OBJECT *device, IRP *irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(Lower(device), irp);
}

static NTSTATUS NTAPI PassPowerDown(DEVICE_OBJECT *device, IRP *irp)
{
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(Lower(device), irp);
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT *driver, DEVICE_OBJECT *device)
{
    (void)driver;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registry)
{
    ZYRV_HID_MINIDRIVER_REGISTRATION registration;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->MajorFunction[IRP_MJ_PNP] = PassDown;
    driver->MajorFunction[IRP_MJ_POWER] = PassPowerDown;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = PassDown;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = PassDown;
    RtlZeroMemory(&registration, sizeof(registration));
    registration.Revision = ZYRV_HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registry;
    registration.DeviceExtensionSize = sizeof(ULONG);
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
