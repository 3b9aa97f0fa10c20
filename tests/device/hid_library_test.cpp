// The run-time binding to "hid.dll": loading, the missing-library box, the
// entry-point table, and ReadReportLengths.
#include "tests/device/device_test_support.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/sim_fixture.h"

#include "device/device_syscalls.h"
#include "protocol/converter_identity.h"

#include <process.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

const char *const tableOrder[] = {
    "HidD_GetAttributes",
    "HidD_GetHidGuid",
    "HidD_GetPreparsedData",
    "HidD_FreePreparsedData",
    "HidD_FlushQueue",
    "HidD_GetFeature",
    "HidD_SetFeature",
    "HidD_GetNumInputBuffers",
    "HidD_SetNumInputBuffers",
    "HidD_GetPhysicalDescriptor",
    "HidD_GetManufacturerString",
    "HidD_GetProductString",
    "HidD_GetIndexedString",
    "HidD_GetSerialNumberString",
    "HidD_GetInputReport",
    "HidD_SetOutputReport",
    "HidP_GetCaps",
};

// The entry-point fields, in the same order.
std::vector<const void *> Table(const HidLibrary &l)
{
    auto p = [](auto f) { return reinterpret_cast<const void *>(reinterpret_cast<void (*)()>(f)); };
    return {p(l.pGetAttributes),
            p(l.pGetHidGuid),
            p(l.pGetPreparsedData),
            p(l.pFreePreparsedData),
            p(l.pFlushQueue),
            p(l.pGetFeature),
            p(l.pSetFeature),
            p(l.pGetNumInputBuffers),
            p(l.pSetNumInputBuffers),
            p(l.pGetPhysicalDescriptor),
            p(l.pGetManufacturerString),
            p(l.pGetProductString),
            p(l.pGetIndexedString),
            p(l.pGetSerialNumberString),
            p(l.pGetInputReport),
            p(l.pSetOutputReport),
            p(l.pGetCaps)};
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
        busGetProcAddress = recording.Replaced();
    }
    SyscallOverride<decltype(DeviceSyscalls::GetProcAddress)> recording{&DeviceSyscalls::GetProcAddress,
                                                                        RecordingGetProcAddress};
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

struct BoxCall {
    HWND owner;
    UINT type;
};
std::vector<BoxCall> boxCalls;

int WINAPI RecordingMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    boxCalls.push_back(BoxCall{owner, type});
    return MessageBoxA(owner, text, caption, type);
}

unsigned __stdcall ConstructDevice(void *slot)
{
    *static_cast<hid_com **>(slot) = new hid_com;
    return 0;
}

}  // namespace

TEST_CASE_FIXTURE(SimFixture, "Load looks up all seventeen entry points in table order; a missing one stays null")
{
    // "" : the whole library; then each entry point missing in turn.
    std::vector<std::string> missing = {""};
    missing.insert(missing.end(), std::begin(tableOrder), std::end(tableOrder));
    for (const std::string &name : missing) {
        CAPTURE(name);
        bus.Reset();
        bus.missingEntryPoints = {name};
        LookupRecorder recorder;
        HidLibrary library;
        library.Load();
        CHECK(library.Module() != nullptr);
        CHECK(std::equal(lookedUp.begin(), lookedUp.end(), std::begin(tableOrder), std::end(tableOrder)));
        const std::vector<const void *> table = Table(library);
        for (size_t i = 0; i < 17; ++i)
            CHECK((table[i] == nullptr) == (name == tableOrder[i]));
        library.Release();
        CHECK(bus.LibraryFrees() == 1);
    }
    CHECK(NoBox("DLL ERROR", 50));
}

TEST_CASE_FIXTURE(SimFixture,
                  "With an entry point missing FindDevice works on, unless discovery needs it: then it opens nothing")
{
    const std::set<std::string> needed = {
        "HidD_GetAttributes",         "HidD_GetHidGuid",       "HidD_GetPreparsedData", "HidD_FreePreparsedData",
        "HidD_GetManufacturerString", "HidD_GetProductString", "HidP_GetCaps"};
    for (const char *name : tableOrder) {
        CAPTURE(name);
        bus.Reset();
        bus.AddConverter();
        bus.missingEntryPoints = {name};
        hid_com device;
        MatchConverter(device);
        const bool canFind = needed.count(name) == 0;
        CHECK(device.library.CanDiscover() == canFind);
        CHECK(device.FindDevice() == (canFind ? 1 : 0));
        CHECK(bus.OpenHandlesTotal() == (canFind ? 1 : 0));
    }
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
        HANDLE handle = OpenDevice(*c.device, 0);
        REQUIRE(handle != INVALID_HANDLE_VALUE);
        CHECK(hidDevice.ReadReportLengths(handle) == c.lengths);
        Sys().CloseHandle(handle);
    }
    CHECK(freeCalls == 3);
    CHECK(bus.OutstandingPreparsedData() == 0);
}

TEST_CASE_FIXTURE(SimFixture, "ReadReportLengths reports every failure as 0 and frees what it was given")
{
    const struct {
        const char *what;
        void (*fail)(sim::SimBus &bus, sim::SimDevice &converter, HANDLE &handle);
        int frees;
    } cases[] = {
        {"no preparsed data", [](sim::SimBus &, sim::SimDevice &c, HANDLE &) { c.failPreparsedData = true; }, 0},
        {"no capabilities", [](sim::SimBus &, sim::SimDevice &c, HANDLE &) { c.failCaps = true; }, 1},
        {"not a HID handle", [](sim::SimBus &, sim::SimDevice &, HANDLE &h) { h = INVALID_HANDLE_VALUE; }, 0},
        {"a device that has gone", [](sim::SimBus &b, sim::SimDevice &c, HANDLE &) { b.Unplug(c); }, 0},
    };
    for (const auto &c : cases) {
        CAPTURE(c.what);
        bus.Reset();
        sim::SimDevice &converter = bus.AddConverter();
        FreeCounter counter(hidDevice);
        const HANDLE opened = OpenDevice(converter, 0);
        HANDLE handle = opened;
        c.fail(bus, converter, handle);
        CHECK(hidDevice.ReadReportLengths(handle) == 0);
        CHECK(freeCalls == c.frees);
        Sys().CloseHandle(opened);
        CHECK(bus.OutstandingPreparsedData() == 0);
    }
}

TEST_CASE_FIXTURE(SimFixture, "Strings of 127 characters and more compare as the 127 that fit the buffer")
{
    // 254 bytes are offered: a 127-character string fills them with no
    // terminator, a longer one is cut there. Both strings compare whole.
    const std::string product = std::string(126, 'P') + "Q";
    const struct {
        std::string onDevice;
        std::string manufacturer;
        std::string product;
        int found;
    } cases[] = {
        {std::string(127, 'M'), std::string(127, 'M'), product, 1},
        {std::string(127, 'M'), std::string(126, 'M'), product, 0},
        {std::string(127, 'M'), std::string(127, 'M'), std::string(126, 'P'), 0},
        {std::string(200, 'L'), std::string(127, 'L'), product, 1},
        {std::string(200, 'L'), std::string(200, 'L'), product, 0},
    };
    for (const auto &c : cases) {
        CAPTURE(c.onDevice.size());
        CAPTURE(c.manufacturer.size());
        CAPTURE(c.product.size());
        bus.Reset();
        sim::DeviceIdentity id;
        id.manufacturer = c.onDevice;
        id.product = product;
        bus.AddDevice(id);
        hidDevice.SetMatch(converterVendorId, converterProductId, converterReleaseNumber, converterReportPayload,
                           converterReportPayload, c.manufacturer.c_str(), c.product.c_str());
        CHECK(hidDevice.FindDevice() == c.found);
    }
}
