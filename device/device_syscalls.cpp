#include "device/device_syscalls.h"

DeviceSyscalls &Sys()
{
    // A function-local static: initialised on first use, so the global
    // device object may call through it from its own static constructor.
    static DeviceSyscalls table = BindDeviceSyscalls();
    return table;
}
