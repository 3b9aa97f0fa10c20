// The bus's implementations of the device boundary's entry points and of
// the "hid.dll" functions it hands out through GetProcAddress.
#pragma once

#include <windows.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

namespace sim::detail {

// "hid.dll" and its loader.
HMODULE WINAPI LoadHidLibrary();
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);

// SetupAPI.
HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *classGuid, PCSTR enumerator, HWND parent, DWORD flags);
BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO list, PSP_DEVINFO_DATA device, const GUID *classGuid, DWORD index,
                                        PSP_DEVICE_INTERFACE_DATA data);
BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                             PDWORD requiredSize, PSP_DEVINFO_DATA device);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO list);

// File I/O on interface paths; other handles go on to Win32.
HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD written, LPOVERLAPPED overlapped);
BOOL WINAPI CloseHandle(HANDLE handle);
BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD count, BOOL wait);
BOOL WINAPI CancelIoEx(HANDLE file, LPOVERLAPPED overlapped);
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD timeoutMs);

// Time.
VOID WINAPI Sleep(DWORD ms);
UINT WINAPI TimeBeginPeriod(UINT ms);
UINT WINAPI TimeEndPeriod(UINT ms);

// Device-change registration.
HDEVNOTIFY WINAPI RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags);
BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY handle);

// One output report to the device behind an open file, as WriteFile and
// HidD_SetOutputReport send it. Returns the Win32 error (0: sent) and the
// byte count that reached the device.
DWORD SendOutputReport(HANDLE file, const void *buffer, DWORD length, DWORD &count);
// The same for an entry point: FALSE, with the last error set, when it fails.
BOOL SendOutputReportOrFail(HANDLE file, const void *buffer, DWORD length, DWORD &count);

}  // namespace sim::detail
