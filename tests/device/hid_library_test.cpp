// The run-time binding to "hid.dll": loading, the missing-library box, the
// entry-point table, and ReadReportLengths.
#include "tests/device/device_test_support.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/sim_fixture.h"

#include "device/device_syscalls.h"

#include <process.h>

#include <string>
#include <vector>

namespace {

const char *const tableOrder[] = {
    "HidD_GetAttributes",         "HidD_GetHidGuid",         "HidD_GetPreparsedData",
    "HidD_FreePreparsedData",     "HidD_FlushQueue",         "HidD_GetFeature",
    "HidD_SetFeature",            "HidD_GetNumInputBuffers", "HidD_SetNumInputBuffers",
    "HidD_GetPhysicalDescriptor", "HidD_GetManufacturerString", "HidD_GetProductString",
    "HidD_GetIndexedString",      "HidD_GetSerialNumberString", "HidD_GetInputReport",
    "HidD_SetOutputReport",       "HidP_GetCaps",
};

// The entry-point fields, in the same order.
std::vector<const void *> Table(const HidLibrary &l)
{
    auto p = [](auto f) { return reinterpret_cast<const void *>(reinterpret_cast<void (*)()>(f)); };
    return {p(l.pGetAttributes),         p(l.pGetHidGuid),          p(l.pGetPreparsedData),
            p(l.pFreePreparsedData),     p(l.pFlushQueue),          p(l.pGetFeature),
            p(l.pSetFeature),            p(l.pGetNumInputBuffers),  p(l.pSetNumInputBuffers),
            p(l.pGetPhysicalDescriptor), p(l.pGetManufacturerString), p(l.pGetProductString),
            p(l.pGetIndexedString),      p(l.pGetSerialNumberString), p(l.pGetInputReport),
            p(l.pSetOutputReport),       p(l.pGetCaps)};
}

std::vector<std::string> lookedUp;
FARPROC(WINAPI *busGetProcAddress)(HMODULE, LPCSTR) = nullptr;

FARPROC WINAPI RecordingGetProcAddress(HMODULE module, LPCSTR name)
{
    lookedUp.push_back(name);
    return busGetProcAddress(module, name);
}

// Records the names Load looks up, for the life of the object.
struct LookupRecorder {
    LookupRecorder()
    {
        lookedUp.clear();
        busGetProcAddress = Sys().GetProcAddress;
        Sys().GetProcAddress = RecordingGetProcAddress;
    }
    ~LookupRecorder() { Sys().GetProcAddress = busGetProcAddress; }
};

int freeCalls = 0;
BOOLEAN(WINAPI *busFreePreparsedData)(PHIDP_PREPARSED_DATA) = nullptr;

BOOLEAN WINAPI CountingFreePreparsedData(PHIDP_PREPARSED_DATA data)
{
    ++freeCalls;
    return busFreePreparsedData(data);
}

// Counts HidD_FreePreparsedData calls made through one object's table.
struct FreeCounter {
    explicit FreeCounter(hid_com &device) : device(device)
    {
        freeCalls = 0;
        busFreePreparsedData = device.library.pFreePreparsedData;
        device.library.pFreePreparsedData = CountingFreePreparsedData;
    }
    ~FreeCounter() { device.library.pFreePreparsedData = busFreePreparsedData; }
    hid_com &device;
};

HANDLE OpenQuery(const sim::SimDevice &device)
{
    return Sys().CreateFileA(device.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr);
}

struct BoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
std::vector<BoxCall> boxCalls;

int WINAPI RecordingMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    boxCalls.push_back(BoxCall{owner, text, caption, type});
    return MessageBoxA(owner, text, caption, type);
}

unsigned __stdcall ConstructDevice(void *slot)
{
    *static_cast<hid_com **>(slot) = new hid_com;
    return 0;
}

}  // namespace

TEST_CASE_FIXTURE(SimFixture, "Load binds the seventeen entry points in table order")
{
    LookupRecorder recorder;
    HidLibrary library;
    library.Load();
    CHECK(library.Module() != nullptr);
    CHECK(bus.LibraryLoads() == 1);
    REQUIRE(lookedUp.size() == 17);
    for (size_t i = 0; i < 17; ++i)
        CHECK(lookedUp[i] == tableOrder[i]);
    for (const void *entry : Table(library))
        CHECK(entry != nullptr);
    CHECK(library.CanDiscover());

    library.Release();
    CHECK(bus.LibraryFrees() == 1);
    CHECK(NoBox("DLL ERROR", 50));
}

TEST_CASE_FIXTURE(SimFixture, "A missing entry point leaves its pointer null and says nothing")
{
    for (const char *name : tableOrder) {
        CAPTURE(name);
        bus.missingEntryPoints = {name};
        LookupRecorder recorder;
        HidLibrary library;
        library.Load();
        CHECK(lookedUp.size() == 17);  // the lookups go on after a miss
        const std::vector<const void *> table = Table(library);
        for (size_t i = 0; i < 17; ++i)
            CHECK((table[i] == nullptr) == (std::string(tableOrder[i]) == name));
        library.Release();
    }
    CHECK(NoBox("DLL ERROR", 50));
}

TEST_CASE_FIXTURE(SimFixture, "Forwarders of absent entry points fail instead of calling null")
{
    HidLibrary library;  // never loaded: the table is empty
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    SetLastError(0);
    CHECK(library.GetAttributes(INVALID_HANDLE_VALUE, &attributes) == FALSE);
    CHECK(GetLastError() == ERROR_PROC_NOT_FOUND);
    GUID guid = {};
    library.GetHidGuid(&guid);
    CHECK(guid.Data1 == 0);
    HIDP_CAPS caps = {};
    CHECK(library.GetCaps(nullptr, &caps) == HIDP_STATUS_NOT_IMPLEMENTED);
    wchar_t text[8] = {};
    CHECK(library.GetIndexedString(INVALID_HANDLE_VALUE, 1, text, sizeof text) == FALSE);
    CHECK(library.SetOutputReport(INVALID_HANDLE_VALUE, text, sizeof text) == FALSE);
    CHECK_FALSE(library.CanDiscover());
}

TEST_CASE_FIXTURE(SimFixture, "Without an entry point discovery needs, FindDevice finds nothing and opens nothing")
{
    bus.AddConverter();
    const char *needed[] = {"HidD_GetAttributes",         "HidD_GetHidGuid",       "HidD_GetPreparsedData",
                            "HidD_FreePreparsedData",     "HidD_GetManufacturerString",
                            "HidD_GetProductString",      "HidP_GetCaps"};
    for (const char *name : needed) {
        CAPTURE(name);
        bus.missingEntryPoints = {name};
        hid_com device;
        MatchConverter(device);
        CHECK(device.FindDevice() == 0);
        CHECK(device.devicePath == nullptr);
        CHECK(bus.OpenHandlesTotal() == 0);
    }
    // The control: with the whole table it is found.
    bus.missingEntryPoints.clear();
    hid_com device;
    MatchConverter(device);
    CHECK(device.FindDevice() == 1);
}

TEST_CASE_FIXTURE(SimFixture, "Without hid.dll: one error box before anything else, then an empty table")
{
    bus.hidLibraryMissing = true;
    bus.AddConverter();
    boxCalls.clear();
    HidLibrary::showMessageBox = RecordingMessageBox;
    hid_com *device = nullptr;
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ConstructDevice, &device, 0, nullptr));
    REQUIRE(thread != nullptr);

    BoxView box = WaitForBox("DLL ERROR");
    REQUIRE(box.window != nullptr);
    CHECK(box.text == "Failed to load HID.DLL");
    CHECK(box.owner == nullptr);
    CHECK(box.icon == LoadIcon(nullptr, IDI_ERROR));
    CHECK(box.buttons == std::vector<int>{IDOK});
    // The constructor waits on the box.
    CHECK(WaitForSingleObject(thread, 100) == WAIT_TIMEOUT);
    PressBoxButton(box, IDOK);
    REQUIRE(WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0);
    CloseHandle(thread);
    CHECK(NoBox("DLL ERROR"));
    HidLibrary::showMessageBox = MessageBoxA;
    // Exactly one box, with no owner, an error icon and on top of all.
    REQUIRE(boxCalls.size() == 1);
    CHECK(boxCalls[0].owner == nullptr);
    CHECK(boxCalls[0].text == "Failed to load HID.DLL");
    CHECK(boxCalls[0].caption == "DLL ERROR");
    CHECK(boxCalls[0].type == 0x40010);
    CHECK(boxCalls[0].type == (MB_ICONERROR | MB_TOPMOST));

    REQUIRE(device != nullptr);
    CHECK(device->library.Module() == nullptr);
    for (const void *entry : Table(device->library))
        CHECK(entry == nullptr);
    CHECK(bus.LibraryLoads() == 0);

    // The object works on: nothing is found, nothing is called.
    MatchConverter(*device);
    CHECK(device->FindDevice() == 0);
    CHECK(device->ReadReportLengths(INVALID_HANDLE_VALUE) == 0);
    CHECK(bus.OpenHandlesTotal() == 0);

    delete device;
    CHECK(bus.LibraryFrees() == 0);
}

TEST_CASE_FIXTURE(SimFixture, "ReadReportLengths packs the input length low and the output length high")
{
    sim::SimDevice &converter = bus.AddConverter();
    sim::SimDevice &mouse = bus.AddWineMouse();
    sim::DeviceIdentity wide;
    wide.inputReportLength = 17;
    wide.outputReportLength = 33;
    sim::SimDevice &twin = bus.AddDevice(wide);
    FreeCounter counter(hidDevice);

    struct Case {
        sim::SimDevice *device;
        uint32_t lengths;
    } cases[] = {{&converter, 0x00090009}, {&mouse, 0x00000002}, {&twin, 0x00210011}};
    for (const Case &c : cases) {
        HANDLE handle = OpenQuery(*c.device);
        REQUIRE(handle != INVALID_HANDLE_VALUE);
        CHECK(hidDevice.ReadReportLengths(handle) == c.lengths);
        Sys().CloseHandle(handle);
    }
    CHECK(freeCalls == 3);
    CHECK(bus.OutstandingPreparsedData() == 0);
}

TEST_CASE_FIXTURE(SimFixture, "ReadReportLengths reports every failure as 0")
{
    sim::SimDevice &converter = bus.AddConverter();
    FreeCounter counter(hidDevice);
    HANDLE handle = OpenQuery(converter);
    REQUIRE(handle != INVALID_HANDLE_VALUE);

    SUBCASE("no preparsed data: nothing to free") {
        converter.failPreparsedData = true;
        CHECK(hidDevice.ReadReportLengths(handle) == 0);
        CHECK(freeCalls == 0);
    }
    SUBCASE("no capabilities: the preparsed data is freed all the same") {
        converter.failCaps = true;
        CHECK(hidDevice.ReadReportLengths(handle) == 0);
        CHECK(freeCalls == 1);
    }
    SUBCASE("a handle that is not a HID device") {
        CHECK(hidDevice.ReadReportLengths(INVALID_HANDLE_VALUE) == 0);
        CHECK(freeCalls == 0);
    }
    SUBCASE("a device that has gone") {
        bus.Unplug(converter);
        CHECK(hidDevice.ReadReportLengths(handle) == 0);
        CHECK(freeCalls == 0);
    }
    Sys().CloseHandle(handle);
    CHECK(bus.OutstandingPreparsedData() == 0);
}

TEST_CASE_FIXTURE(SimFixture, "127-character strings fill the 254-byte buffer and still compare whole")
{
    const std::string longest(127, 'M');
    sim::DeviceIdentity id;
    id.manufacturer = longest;
    id.product = std::string(126, 'P') + "Q";
    sim::SimDevice &device = bus.AddDevice(id);

    SUBCASE("the bus fills every byte and writes no terminator") {
        HANDLE handle = OpenQuery(device);
        REQUIRE(handle != INVALID_HANDLE_VALUE);
        wchar_t wide[130];
        for (wchar_t &c : wide)
            c = L'#';
        CHECK(hidDevice.library.GetManufacturerString(handle, wide, 254));
        CHECK(std::wstring(wide, 127) == std::wstring(127, L'M'));
        CHECK(wide[127] == L'#');
        Sys().CloseHandle(handle);
    }
    SUBCASE("discovery matches the whole of both strings") {
        hidDevice.SetMatch(0x16C0, 0x03E8, 0x0100, 8, 8, longest.c_str(), id.product.c_str());
        CHECK(hidDevice.FindDevice() == 1);
        CHECK(PathOf() == device.path);
    }
    SUBCASE("a criterion one character shorter does not match") {
        hidDevice.SetMatch(0x16C0, 0x03E8, 0x0100, 8, 8, std::string(126, 'M').c_str(), id.product.c_str());
        CHECK(hidDevice.FindDevice() == 0);
    }
}

TEST_CASE_FIXTURE(SimFixture, "A device string longer than the buffer is cut to what fits")
{
    sim::DeviceIdentity id;
    id.manufacturer = std::string(200, 'L');
    bus.AddDevice(id);
    // Windows hands back the first 127 characters; that is what compares.
    hidDevice.SetMatch(0x16C0, 0x03E8, 0x0100, 8, 8, std::string(127, 'L').c_str(), "ZYR-USB");
    CHECK(hidDevice.FindDevice() == 1);
    hidDevice.SetMatch(0x16C0, 0x03E8, 0x0100, 8, 8, id.manufacturer.c_str(), "ZYR-USB");
    CHECK(hidDevice.FindDevice() == 0);
}
