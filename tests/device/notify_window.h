// The parts of a window that listens for device changes, for the tests over
// the simulated bus and over the real system alike.
#pragma once

#include <windows.h>

#include <dbt.h>

// A window of its own class, registered (once a process) under `className`
// with `procedure`; nullptr when it could not be made.
inline HWND CreateClassWindow(const char *className, WNDPROC procedure, HWND parent = nullptr)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    RegisterClassA(&wc);
    return CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, parent, nullptr, wc.hInstance, nullptr);
}

// The filter that registers a window for the interfaces of `classGuid`,
// or, as a device-change record, an interface arrival with no name.
inline DEV_BROADCAST_DEVICEINTERFACE_A InterfaceFilter(const GUID &classGuid)
{
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = classGuid;
    return filter;
}
