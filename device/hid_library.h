// Run-time binding to the system's HID class library "hid.dll".
#pragma once

#include <windows.h>
#include <cstdint>

// mingw's HID headers have no C++ guards of their own.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

class HidLibrary {
public:
    // Shows the box of a failed load: MessageBoxA, unless a test watches
    // the call (Wine draws the box but does not apply MB_TOPMOST).
    // It is called during static initialisation, before any code of the
    // program could set it, so a program that must not show a box chooses
    // its own when it is linked: defining this pointer in one of its own
    // objects keeps the default (hid_library_box.cpp) out of the link.
    static int(WINAPI *showMessageBox)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

    void Load();
    void Release();
    HMODULE Module() const { return module; }

    // Whether every entry point that discovery and ReadReportLengths call
    // is bound (attributes, GUID, both strings, preparsed data, caps).
    bool CanDiscover() const;

    // Forwarders: call the entry point with the caller's arguments and return
    // its result unchanged. An entry point that is not bound is never
    // called: its forwarder fails (FALSE, HIDP_STATUS_NOT_IMPLEMENTED, or
    // the GUID left as it was) with ERROR_PROC_NOT_FOUND.
    BOOLEAN GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes);
    void GetHidGuid(LPGUID guid);
    BOOLEAN GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA *data);
    BOOLEAN FreePreparsedData(PHIDP_PREPARSED_DATA data);
    BOOLEAN FlushQueue(HANDLE device);
    BOOLEAN GetFeature(HANDLE device, PVOID buffer, ULONG length);
    BOOLEAN SetFeature(HANDLE device, PVOID buffer, ULONG length);
    BOOLEAN GetNumInputBuffers(HANDLE device, PULONG count);
    BOOLEAN SetNumInputBuffers(HANDLE device, ULONG count);
    BOOLEAN GetPhysicalDescriptor(HANDLE device, PVOID buffer, ULONG length);
    BOOLEAN GetManufacturerString(HANDLE device, PVOID buffer, ULONG length);
    BOOLEAN GetProductString(HANDLE device, PVOID buffer, ULONG length);
    BOOLEAN GetIndexedString(HANDLE device, ULONG index, PVOID buffer, ULONG length);
    BOOLEAN GetSerialNumberString(HANDLE device, PVOID buffer, ULONG length);
    BOOLEAN GetInputReport(HANDLE device, PVOID buffer, ULONG length);
    BOOLEAN SetOutputReport(HANDLE device, PVOID buffer, ULONG length);
    NTSTATUS GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps);

    // The entry-point table, in lookup order (null when not exported).
    HMODULE module = nullptr;
    BOOLEAN(WINAPI *pGetAttributes)(HANDLE, PHIDD_ATTRIBUTES) = nullptr;
    void(WINAPI *pGetHidGuid)(LPGUID) = nullptr;
    BOOLEAN(WINAPI *pGetPreparsedData)(HANDLE, PHIDP_PREPARSED_DATA *) = nullptr;
    BOOLEAN(WINAPI *pFreePreparsedData)(PHIDP_PREPARSED_DATA) = nullptr;
    BOOLEAN(WINAPI *pFlushQueue)(HANDLE) = nullptr;
    BOOLEAN(WINAPI *pGetFeature)(HANDLE, PVOID, ULONG) = nullptr;
    BOOLEAN(WINAPI *pSetFeature)(HANDLE, PVOID, ULONG) = nullptr;
    BOOLEAN(WINAPI *pGetNumInputBuffers)(HANDLE, PULONG) = nullptr;
    BOOLEAN(WINAPI *pSetNumInputBuffers)(HANDLE, ULONG) = nullptr;
    BOOLEAN(WINAPI *pGetPhysicalDescriptor)(HANDLE, PVOID, ULONG) = nullptr;
    BOOLEAN(WINAPI *pGetManufacturerString)(HANDLE, PVOID, ULONG) = nullptr;
    BOOLEAN(WINAPI *pGetProductString)(HANDLE, PVOID, ULONG) = nullptr;
    BOOLEAN(WINAPI *pGetIndexedString)(HANDLE, ULONG, PVOID, ULONG) = nullptr;
    BOOLEAN(WINAPI *pGetSerialNumberString)(HANDLE, PVOID, ULONG) = nullptr;
    BOOLEAN(WINAPI *pGetInputReport)(HANDLE, PVOID, ULONG) = nullptr;
    BOOLEAN(WINAPI *pSetOutputReport)(HANDLE, PVOID, ULONG) = nullptr;
    NTSTATUS(WINAPI *pGetCaps)(PHIDP_PREPARSED_DATA, PHIDP_CAPS) = nullptr;
};
