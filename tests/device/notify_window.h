// The parts of a window that listens for device changes, for the tests over
// the simulated bus and over the real system alike: a plain ANSI window
// class of its own, a window of it, and the filter that registers it.
#pragma once

#include <windows.h>

#include <dbt.h>

// Registers an ANSI class `className` of this module with `procedure`;
// false when it could not (a class of that name is there already).
inline bool RegisterWindowClass(const char *className, WNDPROC procedure)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    return RegisterClassA(&wc) != 0;
}

// A window of its own class, registered (once a process) under `className`
// with `procedure`; nullptr when it could not be made.
inline HWND CreateClassWindow(const char *className, WNDPROC procedure, HWND parent = nullptr)
{
    RegisterWindowClass(className, procedure);
    return CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
}

// The filter that registers a window for the interfaces of `classGuid`,
// or, as a device-change record, an interface arrival with no name.
inline DEV_BROADCAST_DEVICEINTERFACE_A InterfaceFilter(const GUID &classGuid)
{
    return DEV_BROADCAST_DEVICEINTERFACE_A{
        sizeof(DEV_BROADCAST_DEVICEINTERFACE_A), DBT_DEVTYP_DEVICEINTERFACE, 0, classGuid, {}};
}
