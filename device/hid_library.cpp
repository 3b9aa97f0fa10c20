// Run-time binding to "hid.dll": the library is looked up through the
// device boundary, so tests and the demo bind it to the simulated bus.
#include "device/hid_library.h"

#include "device/device_syscalls.h"

namespace {

// GetProcAddress hands out FARPROC; void (*)() converts to any function
// pointer type without a cast-function-type warning.
template <class Entry> void Bind(HMODULE module, Entry &entry, const char *name)
{
    entry = reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(Sys().GetProcAddress(module, name)));
}

template <class Result> Result Absent(Result result)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return result;
}

}  // namespace

void HidLibrary::Load()
{
    module = Sys().LoadHidLibrary();
    if (!module) {
        // Shown during static initialisation: there is no window to own it.
        showMessageBox(nullptr, "Failed to load HID.DLL", "DLL ERROR", MB_ICONERROR | MB_TOPMOST);
        return;
    }
    // In table order; a name the library does not export stays null.
    Bind(module, pGetAttributes, "HidD_GetAttributes");
    Bind(module, pGetHidGuid, "HidD_GetHidGuid");
    Bind(module, pGetPreparsedData, "HidD_GetPreparsedData");
    Bind(module, pFreePreparsedData, "HidD_FreePreparsedData");
    Bind(module, pFlushQueue, "HidD_FlushQueue");
    Bind(module, pGetFeature, "HidD_GetFeature");
    Bind(module, pSetFeature, "HidD_SetFeature");
    Bind(module, pGetNumInputBuffers, "HidD_GetNumInputBuffers");
    Bind(module, pSetNumInputBuffers, "HidD_SetNumInputBuffers");
    Bind(module, pGetPhysicalDescriptor, "HidD_GetPhysicalDescriptor");
    Bind(module, pGetManufacturerString, "HidD_GetManufacturerString");
    Bind(module, pGetProductString, "HidD_GetProductString");
    Bind(module, pGetIndexedString, "HidD_GetIndexedString");
    Bind(module, pGetSerialNumberString, "HidD_GetSerialNumberString");
    Bind(module, pGetInputReport, "HidD_GetInputReport");
    Bind(module, pSetOutputReport, "HidD_SetOutputReport");
    Bind(module, pGetCaps, "HidP_GetCaps");
}

void HidLibrary::Release()
{
    if (module)
        Sys().FreeLibrary(module);
}

bool HidLibrary::CanDiscover() const
{
    return pGetAttributes && pGetHidGuid && pGetPreparsedData && pFreePreparsedData && pGetManufacturerString &&
           pGetProductString && pGetCaps;
}

BOOLEAN HidLibrary::GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes)
{
    return pGetAttributes ? pGetAttributes(device, attributes) : Absent<BOOLEAN>(FALSE);
}

void HidLibrary::GetHidGuid(LPGUID guid)
{
    if (pGetHidGuid)
        pGetHidGuid(guid);
    else
        SetLastError(ERROR_PROC_NOT_FOUND);
}

BOOLEAN HidLibrary::GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA *data)
{
    return pGetPreparsedData ? pGetPreparsedData(device, data) : Absent<BOOLEAN>(FALSE);
}

BOOLEAN HidLibrary::FreePreparsedData(PHIDP_PREPARSED_DATA data)
{
    return pFreePreparsedData ? pFreePreparsedData(data) : Absent<BOOLEAN>(FALSE);
}

BOOLEAN HidLibrary::FlushQueue(HANDLE device) { return pFlushQueue ? pFlushQueue(device) : Absent<BOOLEAN>(FALSE); }

BOOLEAN HidLibrary::GetFeature(HANDLE device, PVOID buffer, ULONG length)
{
    return pGetFeature ? pGetFeature(device, buffer, length) : Absent<BOOLEAN>(FALSE);
}

BOOLEAN HidLibrary::SetFeature(HANDLE device, PVOID buffer, ULONG length)
{
    return pSetFeature ? pSetFeature(device, buffer, length) : Absent<BOOLEAN>(FALSE);
}

BOOLEAN HidLibrary::GetNumInputBuffers(HANDLE device, PULONG count)
{
    return pGetNumInputBuffers ? pGetNumInputBuffers(device, count) : Absent<BOOLEAN>(FALSE);
}

BOOLEAN HidLibrary::SetNumInputBuffers(HANDLE device, ULONG count)
{
    return pSetNumInputBuffers ? pSetNumInputBuffers(device, count) : Absent<BOOLEAN>(FALSE);
}

BOOLEAN HidLibrary::GetPhysicalDescriptor(HANDLE device, PVOID buffer, ULONG length)
{
    return pGetPhysicalDescriptor ? pGetPhysicalDescriptor(device, buffer, length) : Absent<BOOLEAN>(FALSE);
}

BOOLEAN HidLibrary::GetManufacturerString(HANDLE device, PVOID buffer, ULONG length)
{
    return pGetManufacturerString ? pGetManufacturerString(device, buffer, length) : Absent<BOOLEAN>(FALSE);
}

BOOLEAN HidLibrary::GetProductString(HANDLE device, PVOID buffer, ULONG length)
{
    return pGetProductString ? pGetProductString(device, buffer, length) : Absent<BOOLEAN>(FALSE);
}

BOOLEAN HidLibrary::GetIndexedString(HANDLE device, ULONG index, PVOID buffer, ULONG length)
{
    return pGetIndexedString ? pGetIndexedString(device, index, buffer, length) : Absent<BOOLEAN>(FALSE);
}

BOOLEAN HidLibrary::GetSerialNumberString(HANDLE device, PVOID buffer, ULONG length)
{
    return pGetSerialNumberString ? pGetSerialNumberString(device, buffer, length) : Absent<BOOLEAN>(FALSE);
}

BOOLEAN HidLibrary::GetInputReport(HANDLE device, PVOID buffer, ULONG length)
{
    return pGetInputReport ? pGetInputReport(device, buffer, length) : Absent<BOOLEAN>(FALSE);
}

BOOLEAN HidLibrary::SetOutputReport(HANDLE device, PVOID buffer, ULONG length)
{
    return pSetOutputReport ? pSetOutputReport(device, buffer, length) : Absent<BOOLEAN>(FALSE);
}

NTSTATUS HidLibrary::GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps)
{
    return pGetCaps ? pGetCaps(data, caps) : Absent<NTSTATUS>(HIDP_STATUS_NOT_IMPLEMENTED);
}
