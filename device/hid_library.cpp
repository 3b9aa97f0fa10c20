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

// Calls a bound entry point with the caller's arguments; `absent` (with
// ERROR_PROC_NOT_FOUND) when the library does not export it.
template <class Entry, class Result, class... Args> Result Forward(Entry entry, Result absent, Args... args)
{
    return entry ? entry(args...) : Absent<Result>(absent);
}

constexpr BOOLEAN refused = FALSE;

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
    return Forward(pGetAttributes, refused, device, attributes);
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
    return Forward(pGetPreparsedData, refused, device, data);
}

BOOLEAN HidLibrary::FreePreparsedData(PHIDP_PREPARSED_DATA data) { return Forward(pFreePreparsedData, refused, data); }

BOOLEAN HidLibrary::FlushQueue(HANDLE device) { return Forward(pFlushQueue, refused, device); }

BOOLEAN HidLibrary::GetFeature(HANDLE device, PVOID buffer, ULONG length)
{
    return Forward(pGetFeature, refused, device, buffer, length);
}

BOOLEAN HidLibrary::SetFeature(HANDLE device, PVOID buffer, ULONG length)
{
    return Forward(pSetFeature, refused, device, buffer, length);
}

BOOLEAN HidLibrary::GetNumInputBuffers(HANDLE device, PULONG count)
{
    return Forward(pGetNumInputBuffers, refused, device, count);
}

BOOLEAN HidLibrary::SetNumInputBuffers(HANDLE device, ULONG count)
{
    return Forward(pSetNumInputBuffers, refused, device, count);
}

BOOLEAN HidLibrary::GetPhysicalDescriptor(HANDLE device, PVOID buffer, ULONG length)
{
    return Forward(pGetPhysicalDescriptor, refused, device, buffer, length);
}

BOOLEAN HidLibrary::GetManufacturerString(HANDLE device, PVOID buffer, ULONG length)
{
    return Forward(pGetManufacturerString, refused, device, buffer, length);
}

BOOLEAN HidLibrary::GetProductString(HANDLE device, PVOID buffer, ULONG length)
{
    return Forward(pGetProductString, refused, device, buffer, length);
}

BOOLEAN HidLibrary::GetIndexedString(HANDLE device, ULONG index, PVOID buffer, ULONG length)
{
    return Forward(pGetIndexedString, refused, device, index, buffer, length);
}

BOOLEAN HidLibrary::GetSerialNumberString(HANDLE device, PVOID buffer, ULONG length)
{
    return Forward(pGetSerialNumberString, refused, device, buffer, length);
}

BOOLEAN HidLibrary::GetInputReport(HANDLE device, PVOID buffer, ULONG length)
{
    return Forward(pGetInputReport, refused, device, buffer, length);
}

BOOLEAN HidLibrary::SetOutputReport(HANDLE device, PVOID buffer, ULONG length)
{
    return Forward(pSetOutputReport, refused, device, buffer, length);
}

NTSTATUS HidLibrary::GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps)
{
    return Forward(pGetCaps, HIDP_STATUS_NOT_IMPLEMENTED, data, caps);
}
