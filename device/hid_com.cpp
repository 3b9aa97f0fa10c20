// Device discovery: the identity of the wanted device, and the walk over
// the present HID interfaces that finds it and keeps its path.
#include "device/hid_com.h"

#include "device/device_syscalls.h"
#include "device/discovery_memory.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>

DiscoveryMemory &DiscoveryHeap()
{
    static DiscoveryMemory heap = {std::malloc, std::free};
    return heap;
}

namespace {

HidLibrary LoadedHidLibrary()
{
    HidLibrary library;
    library.Load();
    return library;
}

// Copies at most the field's room less one and always terminates.
void CopyCriterion(char (&field)[260], const char *text)
{
    if (!text)
        return;
    std::strncpy(field, text, sizeof field - 1);
    field[sizeof field - 1] = '\0';
}

// What FindDevice reads from one open interface.
struct Candidate {
    BOOLEAN haveAttributes = FALSE;
    HIDD_ATTRIBUTES attributes = {};
    char manufacturer[260] = {};
    char product[260] = {};
    uint32_t reportLengths = 0;
};

bool Matches(const Candidate &c, const DeviceMatch &match)
{
    return c.haveAttributes && std::strcmp(c.manufacturer, match.manufacturer) == 0 &&
           std::strcmp(c.product, match.product) == 0 && (c.reportLengths & 0xFFFF) == match.inputReportLength &&
           (c.reportLengths >> 16) == match.outputReportLength && c.attributes.VendorID == match.vendorId &&
           c.attributes.ProductID == match.productId && c.attributes.VersionNumber == match.releaseNumber;
}

constexpr size_t detailFixedPart = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

}  // namespace

// The Wnd part first, then "hid.dll" (where the missing-library box can
// appear), then the remaining fields with their initial values.
hid_com::hid_com() : library(LoadedHidLibrary()) {}

hid_com::~hid_com()
{
    Close();
    UnregisterNotify();
    Destroy();
    DiscoveryHeap().release(devicePath);
    devicePath = nullptr;
    library.Release();
}

void hid_com::SetMatch(uint16_t vendorId, uint16_t productId, uint16_t releaseNumber, uint8_t inputPayloadLength,
                       uint8_t outputPayloadLength, const char *manufacturerString, const char *productString)
{
    match = DeviceMatch{};
    match.vendorId = vendorId;
    match.productId = productId;
    match.releaseNumber = releaseNumber;
    // One more for the report-ID byte, in 8 bits: a payload of 255 gives 0.
    match.inputReportLength = static_cast<uint8_t>(inputPayloadLength + 1);
    match.outputReportLength = static_cast<uint8_t>(outputPayloadLength + 1);
    CopyCriterion(match.manufacturer, manufacturerString);
    CopyCriterion(match.product, productString);
}

uint32_t hid_com::ReadReportLengths(HANDLE device)
{
    if (!library.pGetPreparsedData || !library.pFreePreparsedData || !library.pGetCaps)
        return 0;
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!library.GetPreparsedData(device, &data))
        return 0;
    HIDP_CAPS caps;
    std::memset(&caps, 0, sizeof caps);
    uint32_t lengths = 0;
    if (library.GetCaps(data, &caps) == HIDP_STATUS_SUCCESS)
        lengths = static_cast<uint32_t>(caps.OutputReportByteLength) << 16 | caps.InputReportByteLength;
    if (data)
        library.FreePreparsedData(data);
    return lengths;
}

int hid_com::FindDevice()
{
    DiscoveryMemory &heap = DiscoveryHeap();
    heap.release(devicePath);
    devicePath = nullptr;
    // After a failed load the table is empty: nothing to call, nothing found.
    if (!library.CanDiscover())
        return 0;

    GUID hidGuid = {};
    library.GetHidGuid(&hidGuid);
    HDEVINFO list = Sys().SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE)
        return 0;

    int found = 0;
    for (DWORD index = 0; !found; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof interfaceData;
        if (!Sys().SetupDiEnumDeviceInterfaces(list, nullptr, &hidGuid, index, &interfaceData))
            break;

        DWORD required = 0;
        Sys().SetupDiGetDeviceInterfaceDetailA(list, &interfaceData, nullptr, 0, &required, nullptr);
        // A size too small for the fixed part (the query itself failed) or
        // a block that cannot be had: the detail cannot be read.
        if (required <= detailFixedPart)
            break;
        auto *detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(heap.allocate(required));
        if (!detail)
            break;
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!Sys().SetupDiGetDeviceInterfaceDetailA(list, &interfaceData, detail, required, nullptr, nullptr)) {
            heap.release(detail);
            break;
        }

        // No access rights: enough to read the identity, and never refused
        // because another program holds the device open.
        HANDLE device = Sys().CreateFileA(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        if (device == INVALID_HANDLE_VALUE || !device) {
            heap.release(detail);
            continue;
        }

        Candidate candidate;
        candidate.attributes.Size = sizeof candidate.attributes;
        candidate.haveAttributes = library.GetAttributes(device, &candidate.attributes);
        // 256 bytes of which 254 are offered: a string that fills all 254
        // (127 characters, no terminator) still ends inside the buffer.
        wchar_t wide[128] = {};
        library.GetManufacturerString(device, wide, 254);
        std::wcstombs(candidate.manufacturer, wide, 254);
        library.GetProductString(device, wide, 254);
        std::wcstombs(candidate.product, wide, 254);
        candidate.reportLengths = ReadReportLengths(device);
        Sys().CloseHandle(device);

        if (Matches(candidate, match)) {
            deviceFound = 1;
            found = 1;
            // When the copy cannot be had the device still counts as found;
            // callers see no path and cannot open it.
            const size_t length = std::strlen(detail->DevicePath) + 1;
            if (auto *path = static_cast<char *>(heap.allocate(length))) {
                std::memcpy(path, detail->DevicePath, length);
                devicePath = path;
            }
        }
        heap.release(detail);
    }
    Sys().SetupDiDestroyDeviceInfoList(list);
    return found;
}

hid_com hidDevice;
