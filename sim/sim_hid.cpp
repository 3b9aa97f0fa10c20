// "hid.dll" on the bus: the library's loader and its seventeen entry
// points, answering for the devices behind the bus's handles.
#include "sim/sim_entry_points.h"
#include "sim/sim_state.h"

#include <cstring>

namespace sim::detail {

namespace {

constexpr uint32_t preparsedMagic = 0x50524550;  // "PREP"

// The device behind a live handle; null (with the last error set) when the
// handle is not open or its device is gone. Caller holds the bus lock.
OpenFile *LiveFile(BusState &bus, HANDLE handle)
{
    std::shared_ptr<OpenFile> file = bus.File(handle);
    if (!file)
        return Fail<OpenFile *>(ERROR_INVALID_HANDLE, nullptr);
    if (!LiveOn(*file))
        return Fail<OpenFile *>(ERROR_DEVICE_NOT_CONNECTED, nullptr);
    return file.get();  // the map keeps it alive while the lock is held
}

// Runs `act` on the live file behind `handle`, under the bus lock; FALSE
// (with the last error set) when the handle is not open or its device is
// gone. `deliverDueFirst`: late replies due by now reach the queues first.
template <class Act> BOOLEAN OnLiveFile(HANDLE handle, Act act, bool deliverDueFirst = false)
{
    BusState &bus = Bus();
    std::unique_lock<std::mutex> hold = deliverDueFirst ? bus.LockDelivered() : std::unique_lock<std::mutex>(bus.lock);
    OpenFile *file = LiveFile(bus, handle);
    if (!file)
        return FALSE;
    return act(bus, *file);
}

// FALSE with `error` for a live handle (and the handle's error otherwise).
BOOLEAN FailOnLiveFile(HANDLE handle, DWORD error)
{
    return OnLiveFile(handle, [error](BusState &, OpenFile &) { return Fail<BOOLEAN>(error, FALSE); });
}

// A string descriptor into a buffer of `length` bytes, as the HID class
// driver copies it: whole wide characters, truncated to the buffer, with a
// terminator only when one still fits.
BOOLEAN CopyWide(const std::string &text, PVOID buffer, ULONG length)
{
    if (!buffer)
        return Fail<BOOLEAN>(ERROR_INVALID_USER_BUFFER, FALSE);
    auto *out = static_cast<wchar_t *>(buffer);
    const size_t room = length / sizeof(wchar_t);
    const size_t n = text.size() < room ? text.size() : room;
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    if (n < room)
        out[n] = L'\0';
    return TRUE;
}

enum class Which { manufacturer, product };

BOOLEAN GetString(HANDLE handle, PVOID buffer, ULONG length, Which which)
{
    return OnLiveFile(handle, [&](BusState &, OpenFile &file) {
        if (file.device->failStrings)
            return Fail<BOOLEAN>(ERROR_GEN_FAILURE, FALSE);
        const DeviceIdentity &id = file.device->identity;
        return CopyWide(which == Which::manufacturer ? id.manufacturer : id.product, buffer, length);
    });
}

BOOLEAN WINAPI HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes)
{
    return OnLiveFile(handle, [&](BusState &, OpenFile &file) {
        if (!attributes || attributes->Size != sizeof(HIDD_ATTRIBUTES))
            return Fail<BOOLEAN>(ERROR_INVALID_PARAMETER, FALSE);
        if (file.device->failAttributes)
            return Fail<BOOLEAN>(ERROR_GEN_FAILURE, FALSE);
        const DeviceIdentity &id = file.device->identity;
        attributes->VendorID = id.vendorId;
        attributes->ProductID = id.productId;
        attributes->VersionNumber = static_cast<USHORT>(id.releaseNumber);
        return BOOLEAN{TRUE};
    });
}

void WINAPI HidD_GetHidGuid(LPGUID guid)
{
    if (guid)
        *guid = hidClassGuid;
}

BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA *data)
{
    return OnLiveFile(handle, [&](BusState &bus, OpenFile &file) {
        if (!data)
            return Fail<BOOLEAN>(ERROR_INVALID_PARAMETER, FALSE);
        if (file.device->failPreparsedData)
            return Fail<BOOLEAN>(ERROR_GEN_FAILURE, FALSE);
        auto *block = new PreparsedBlock{preparsedMagic, file.device};
        bus.preparsed.insert(block);
        *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(block);
        return BOOLEAN{TRUE};
    });
}

BOOLEAN WINAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data)
{
    return EndUnderLock(ERROR_INVALID_PARAMETER, [data](BusState &bus) {
        auto *block = reinterpret_cast<PreparsedBlock *>(data);
        if (!bus.preparsed.erase(block))
            return false;
        delete block;
        return true;
    });
}

NTSTATUS WINAPI HidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps)
{
    BusState &bus = Bus();
    std::lock_guard<std::mutex> hold(bus.lock);
    auto *block = reinterpret_cast<PreparsedBlock *>(data);
    if (!bus.preparsed.count(block) || block->magic != preparsedMagic || !caps)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    const SimDevice &device = *block->device;
    if (device.failCaps)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    std::memset(caps, 0, sizeof *caps);
    const DeviceIdentity &id = device.identity;
    // A vendor-defined collection for the converter and its kin; the Wine
    // mouse and keyboard are generic desktop devices.
    const bool wine = id.vendorId == 0x845E;
    caps->UsagePage = wine ? 0x01 : converterUsagePage;
    caps->Usage = wine ? (id.productId == 0x0001 ? 0x02 : 0x06) : converterUsage;
    caps->InputReportByteLength = id.inputReportLength;
    caps->OutputReportByteLength = id.outputReportLength;
    caps->NumberInputValueCaps = id.inputReportLength ? 1 : 0;
    caps->NumberOutputValueCaps = id.outputReportLength ? 1 : 0;
    return HIDP_STATUS_SUCCESS;
}

BOOLEAN WINAPI HidD_FlushQueue(HANDLE handle)
{
    // What has come by now is in the queue.
    return OnLiveFile(
        handle,
        [](BusState &, OpenFile &file) {
            if (file.device->failFlushQueue)
                return Fail<BOOLEAN>(ERROR_NOT_SUPPORTED, FALSE);
            file.queue.clear();
            return BOOLEAN{TRUE};
        },
        true);
}

// The converter and the simulated devices have no feature reports, no
// physical descriptor and no serial number; their control pipe does not
// answer input-report requests.
BOOLEAN Unsupported(HANDLE handle) { return FailOnLiveFile(handle, ERROR_INVALID_FUNCTION); }

BOOLEAN WINAPI HidD_GetFeature(HANDLE handle, PVOID, ULONG) { return Unsupported(handle); }

BOOLEAN WINAPI HidD_SetFeature(HANDLE handle, PVOID, ULONG) { return Unsupported(handle); }

BOOLEAN WINAPI HidD_GetPhysicalDescriptor(HANDLE handle, PVOID, ULONG) { return Unsupported(handle); }

BOOLEAN WINAPI HidD_GetSerialNumberString(HANDLE handle, PVOID, ULONG) { return Unsupported(handle); }

BOOLEAN WINAPI HidD_GetInputReport(HANDLE handle, PVOID, ULONG) { return Unsupported(handle); }

BOOLEAN WINAPI HidD_GetNumInputBuffers(HANDLE handle, PULONG count)
{
    return OnLiveFile(handle, [count](BusState &, OpenFile &file) {
        if (!count)
            return Fail<BOOLEAN>(ERROR_INVALID_PARAMETER, FALSE);
        *count = file.inputBuffers;
        return BOOLEAN{TRUE};
    });
}

BOOLEAN WINAPI HidD_SetNumInputBuffers(HANDLE handle, ULONG count)
{
    return OnLiveFile(handle, [count](BusState &, OpenFile &file) {
        if (count < 2 || count > 512)
            return Fail<BOOLEAN>(ERROR_INVALID_PARAMETER, FALSE);
        file.inputBuffers = count;
        while (file.queue.size() > count)
            file.queue.pop_front();
        return BOOLEAN{TRUE};
    });
}

BOOLEAN WINAPI HidD_GetManufacturerString(HANDLE handle, PVOID buffer, ULONG length)
{
    return GetString(handle, buffer, length, Which::manufacturer);
}

BOOLEAN WINAPI HidD_GetProductString(HANDLE handle, PVOID buffer, ULONG length)
{
    return GetString(handle, buffer, length, Which::product);
}

// String index 1 is the manufacturer, 2 the product, as the converter's
// descriptors number them.
BOOLEAN WINAPI HidD_GetIndexedString(HANDLE handle, ULONG index, PVOID buffer, ULONG length)
{
    if (index == 1 || index == 2)
        return GetString(handle, buffer, length, index == 1 ? Which::manufacturer : Which::product);
    return FailOnLiveFile(handle, ERROR_INVALID_PARAMETER);
}

BOOLEAN WINAPI HidD_SetOutputReport(HANDLE handle, PVOID buffer, ULONG length)
{
    DWORD count = 0;
    return static_cast<BOOLEAN>(SendOutputReportOrFail(handle, buffer, length, count));
}

// Entry points travel as FARPROC; void (*)() converts to and from any
// function pointer type without a cast-function-type warning.
template <class Function> FARPROC AsProc(Function function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

struct EntryPoint {
    const char *name;
    FARPROC address;
};

char moduleToken;  // its address is the fake module handle: no real module starts there

}  // namespace

HMODULE FakeHidModule() { return reinterpret_cast<HMODULE>(&moduleToken); }

HMODULE WINAPI LoadHidLibrary()
{
    SimBus &sim = SimBus::Instance();
    if (sim.hidLibraryMissing)
        return Fail<HMODULE>(ERROR_MOD_NOT_FOUND, nullptr);
    UnderLock(sim.State(), [](BusState &bus) { ++bus.libraryLoads; });
    return FakeHidModule();
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name)
{
    if (module != FakeHidModule())
        return ::GetProcAddress(module, name);
    if (!name || IS_INTRESOURCE(name))
        return Fail<FARPROC>(ERROR_PROC_NOT_FOUND, nullptr);
    SimBus &sim = SimBus::Instance();
    if (sim.missingEntryPoints.count(name))
        return Fail<FARPROC>(ERROR_PROC_NOT_FOUND, nullptr);
    // Built on the first call, not with this file's globals: the global
    // device object looks its entry points up during static initialisation,
    // and the order of that across files is the link's.
    static const EntryPoint entryPoints[] = {
        {"HidD_GetAttributes", AsProc(HidD_GetAttributes)},
        {"HidD_GetHidGuid", AsProc(HidD_GetHidGuid)},
        {"HidD_GetPreparsedData", AsProc(HidD_GetPreparsedData)},
        {"HidD_FreePreparsedData", AsProc(HidD_FreePreparsedData)},
        {"HidD_FlushQueue", AsProc(HidD_FlushQueue)},
        {"HidD_GetFeature", AsProc(HidD_GetFeature)},
        {"HidD_SetFeature", AsProc(HidD_SetFeature)},
        {"HidD_GetNumInputBuffers", AsProc(HidD_GetNumInputBuffers)},
        {"HidD_SetNumInputBuffers", AsProc(HidD_SetNumInputBuffers)},
        {"HidD_GetPhysicalDescriptor", AsProc(HidD_GetPhysicalDescriptor)},
        {"HidD_GetManufacturerString", AsProc(HidD_GetManufacturerString)},
        {"HidD_GetProductString", AsProc(HidD_GetProductString)},
        {"HidD_GetIndexedString", AsProc(HidD_GetIndexedString)},
        {"HidD_GetSerialNumberString", AsProc(HidD_GetSerialNumberString)},
        {"HidD_GetInputReport", AsProc(HidD_GetInputReport)},
        {"HidD_SetOutputReport", AsProc(HidD_SetOutputReport)},
        {"HidP_GetCaps", AsProc(HidP_GetCaps)},
    };
    for (const EntryPoint &entry : entryPoints)
        if (std::strcmp(entry.name, name) == 0)
            return entry.address;
    return Fail<FARPROC>(ERROR_PROC_NOT_FOUND, nullptr);
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    if (module != FakeHidModule())
        return ::FreeLibrary(module);
    UnderLock(Bus(), [](BusState &bus) { ++bus.libraryFrees; });
    return TRUE;
}

}  // namespace sim::detail
