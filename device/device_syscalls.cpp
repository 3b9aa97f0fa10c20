#include "device/device_syscalls.h"

// Function-local statics: initialised on first use, so the global device
// object may call through them from its own static constructor.
const DeviceSyscalls &BoundSyscalls()
{
    static const DeviceSyscalls bound = BindDeviceSyscalls();
    return bound;
}

void BindKernelMutex(DeviceSyscalls &s)
{
    s.CreateMutexExA = ::CreateMutexExA;
    s.WaitForMutex = ::WaitForSingleObject;
    s.ReleaseMutex = ::ReleaseMutex;
    s.CloseMutex = ::CloseHandle;
}

DeviceSyscalls &Sys()
{
    static DeviceSyscalls table = BoundSyscalls();
    return table;
}
