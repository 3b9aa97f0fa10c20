// The shipped binding: every entry is the real Win32 function.
#include "device/device_syscalls.h"

#include <mmsystem.h>

namespace {

HMODULE WINAPI LoadHidFromSystemDirectory()
{
    // Never search the program's folder or the current directory: a planted
    // hid.dll there would run with the user's rights.
    char path[MAX_PATH];
    const char name[] = "\\hid.dll";
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n + sizeof name > sizeof path)
        return nullptr;
    lstrcpyA(path + n, name);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

UINT WINAPI TimeBeginPeriodWin32(UINT ms) { return timeBeginPeriod(ms); }
UINT WINAPI TimeEndPeriodWin32(UINT ms) { return timeEndPeriod(ms); }

}  // namespace

DeviceSyscalls BindDeviceSyscalls()
{
    DeviceSyscalls s{};
    s.LoadHidLibrary = LoadHidFromSystemDirectory;
    s.GetProcAddress = ::GetProcAddress;
    s.FreeLibrary = ::FreeLibrary;
    s.SetupDiGetClassDevsA = ::SetupDiGetClassDevsA;
    s.SetupDiEnumDeviceInterfaces = ::SetupDiEnumDeviceInterfaces;
    s.SetupDiGetDeviceInterfaceDetailA = ::SetupDiGetDeviceInterfaceDetailA;
    s.SetupDiDestroyDeviceInfoList = ::SetupDiDestroyDeviceInfoList;
    s.CreateFileA = ::CreateFileA;
    s.ReadFile = ::ReadFile;
    s.WriteFile = ::WriteFile;
    s.CloseHandle = ::CloseHandle;
    s.GetOverlappedResult = ::GetOverlappedResult;
    s.CancelIoEx = ::CancelIoEx;
    s.WaitForSingleObject = ::WaitForSingleObject;
    s.Sleep = ::Sleep;
    s.TimeBeginPeriod = TimeBeginPeriodWin32;
    s.TimeEndPeriod = TimeEndPeriodWin32;
    s.RegisterDeviceNotificationA = ::RegisterDeviceNotificationA;
    s.UnregisterDeviceNotification = ::UnregisterDeviceNotification;
    BindKernelMutex(s);
    return s;
}
