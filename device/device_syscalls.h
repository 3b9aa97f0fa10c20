// The narrow boundary between the program and the operating system for
// everything that reaches the converter: loading the HID library, the
// SetupAPI walk over HID interfaces, file I/O on device paths, the waits
// and pauses of the register protocol, device-change registration and the
// system-wide lock that lets one ZYR program at a time reach the converter.
//
// Production code never calls these Win32 functions directly; it calls
// through Sys(). The shipped program binds the table to Win32
// (device_syscalls_win32.cpp); the demo build and the tests bind it to the
// simulated USB bus (sim/). The table keeps the entries its binding bound
// (BoundSyscalls); a SyscallOverride replaces one entry for its own scope,
// to watch or break a single call (zyrctl's trace, the tests' faults), and
// puts back what was there when it ends.
#pragma once

#include "base/no_copy.h"

#include <windows.h>
#include <setupapi.h>
#include <dbt.h>

// The completion status an OVERLAPPED carries while its transfer runs
// (STATUS_PENDING), as the system and the simulated bus both set it.
constexpr ULONG_PTR statusPending = 0x00000103;

struct DeviceSyscalls {
    // "hid.dll" from the system directory only; null when it cannot be loaded.
    HMODULE(WINAPI *LoadHidLibrary)();
    FARPROC(WINAPI *GetProcAddress)(HMODULE, LPCSTR);
    BOOL(WINAPI *FreeLibrary)(HMODULE);

    HDEVINFO(WINAPI *SetupDiGetClassDevsA)(const GUID *, PCSTR, HWND, DWORD);
    BOOL(WINAPI *SetupDiEnumDeviceInterfaces)
    (HDEVINFO, PSP_DEVINFO_DATA, const GUID *, DWORD, PSP_DEVICE_INTERFACE_DATA);
    BOOL(WINAPI *SetupDiGetDeviceInterfaceDetailA)
    (HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD, PSP_DEVINFO_DATA);
    BOOL(WINAPI *SetupDiDestroyDeviceInfoList)(HDEVINFO);

    HANDLE(WINAPI *CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI *ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI *WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI *CloseHandle)(HANDLE);
    BOOL(WINAPI *GetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
    BOOL(WINAPI *CancelIoEx)(HANDLE, LPOVERLAPPED);
    // Waits on the event of an overlapped transfer on a device handle.
    DWORD(WINAPI *WaitForSingleObject)(HANDLE, DWORD);

    // The protocol's pauses and the timer resolution they need.
    VOID(WINAPI *Sleep)(DWORD);
    UINT(WINAPI *TimeBeginPeriod)(UINT);
    UINT(WINAPI *TimeEndPeriod)(UINT);

    HDEVNOTIFY(WINAPI *RegisterDeviceNotificationA)(HANDLE, LPVOID, DWORD);
    BOOL(WINAPI *UnregisterDeviceNotification)(HDEVNOTIFY);

    // The converter lock: the kernel's named mutex in every binding, the
    // simulated one included, so that two programs exclude each other
    // however they are bound.
    HANDLE(WINAPI *CreateMutexExA)(LPSECURITY_ATTRIBUTES, LPCSTR, DWORD, DWORD);
    DWORD(WINAPI *WaitForMutex)(HANDLE, DWORD);
    BOOL(WINAPI *ReleaseMutex)(HANDLE);
    BOOL(WINAPI *CloseMutex)(HANDLE);
};

// Binds the converter lock's entries to the kernel's named mutex, as every
// binding does.
void BindKernelMutex(DeviceSyscalls &s);

// The table in force. Bound on first use (so it is ready during static
// initialisation) by BindDeviceSyscalls(), which the chosen binding defines.
DeviceSyscalls &Sys();

// Defined once per program: by the Win32 binding or by the simulated bus.
DeviceSyscalls BindDeviceSyscalls();

// The entries as the binding bound them, whatever overrides are in force.
const DeviceSyscalls &BoundSyscalls();

// One entry of the table replaced for the life of the object. Overrides
// stack: each keeps the entry it replaced (Replaced(), which a wrapper
// calls to pass the call on) and puts it back when it ends, so they must
// end in the reverse order they began, as scoped objects do. Installed and
// removed on one thread, while no other thread calls through the entry.
template <class Entry> class SyscallOverride : private NoCopy {
public:
    SyscallOverride(Entry DeviceSyscalls::*entry, Entry replacement) : entry(entry), replaced(Sys().*entry)
    {
        Sys().*entry = replacement;
    }
    ~SyscallOverride() { Sys().*entry = replaced; }
    Entry Replaced() const { return replaced; }

private:
    Entry DeviceSyscalls::*entry;
    Entry replaced;
};
