// FindDevice over the simulated bus: which interface matches, what is
// stored, and that every search leaves nothing open.
#include "tests/device/device_test_support.h"
#include "tests/support/sim_fixture.h"
#include "protocol/converter_identity.h"

#include <cstring>

namespace {

using sim::DeviceIdentity;
using sim::SimBus;
using sim::SimDevice;

// Adds a device with the converter's identity changed by `change`.
template <class Change> SimDevice &AddLike(SimBus &bus, Change change)
{
    DeviceIdentity id;
    change(id);
    return bus.AddDevice(id);
}

// A converter spoilt in one respect: it differs from the criteria, or
// something about it cannot be read.
const struct {
    const char *what;
    void (*spoil)(SimDevice &device);
} spoilt[] = {
    {"release 0x0101", [](SimDevice &d) { d.identity.releaseNumber = 0x0101; }},
    {"another vendor", [](SimDevice &d) { d.identity.vendorId = 0x16C1; }},
    {"another product id", [](SimDevice &d) { d.identity.productId = 0x03E9; }},
    {"manufacturer in another letter case", [](SimDevice &d) { d.identity.manufacturer = "brantix"; }},
    {"product in another letter case", [](SimDevice &d) { d.identity.product = "ZYR-usb"; }},
    {"manufacturer with a trailing blank", [](SimDevice &d) { d.identity.manufacturer = "Brantix "; }},
    {"16-byte input reports", [](SimDevice &d) { d.identity.inputReportLength = 17; }},
    {"16-byte output reports", [](SimDevice &d) { d.identity.outputReportLength = 17; }},
    {"attributes unreadable", [](SimDevice &d) { d.failAttributes = true; }},
    {"preparsed data unreadable", [](SimDevice &d) { d.failPreparsedData = true; }},
    {"capabilities unreadable", [](SimDevice &d) { d.failCaps = true; }},
    {"strings unreadable", [](SimDevice &d) { d.failStrings = true; }},
    {"cannot be opened", [](SimDevice &d) { d.failOpenQuery = true; }},
};

// One bus set-up and what a search over it must find.
const struct {
    const char *what;
    SimDevice *(*setUp)(SimBus &bus);  // the device to be found, or null
    int opens;  // interfaces opened
} searches[] = {
    {"the converter among Wine's own devices",
     [](SimBus &b) {
         b.AddWineMouse();
         b.AddWineKeyboard();
         return &b.AddConverter();
     },
     3},
    {"the converter after its twins: release 0x0101 and 16-byte reports",
     [](SimBus &b) {
         AddLike(b, [](DeviceIdentity &id) { id.releaseNumber = 0x0101; });
         AddLike(b, [](DeviceIdentity &id) { id.inputReportLength = id.outputReportLength = 17; });
         return &b.AddConverter();
     },
     3},
    {"a null product criterion: only an empty product string",
     [](SimBus &b) {
         hidDevice.SetMatch(converterVendorId, converterProductId, converterReleaseNumber, converterReportPayload,
                            converterReportPayload, converterManufacturer, nullptr);
         b.AddConverter();
         return &AddLike(b, [](DeviceIdentity &id) { id.product = ""; });
     },
     2},
    {"a payload of 255: only a device reporting length 0",
     [](SimBus &b) {
         hidDevice.SetMatch(converterVendorId, converterProductId, converterReleaseNumber, 255, 255,
                            converterManufacturer, converterProduct);
         b.AddConverter();
         return &AddLike(b, [](DeviceIdentity &id) { id.inputReportLength = id.outputReportLength = 0; });
     },
     2},
    {"an empty bus", [](SimBus &) -> SimDevice * { return nullptr; }, 0},
    {"SetupAPI refusing the list",
     [](SimBus &b) -> SimDevice * {
         b.AddConverter();
         b.failClassDevs = true;
         return nullptr;
     },
     0},
    {"an interface detail unreadable: later interfaces are not examined",
     [](SimBus &b) -> SimDevice * {
         b.AddWineMouse();
         b.AddWineKeyboard().failInterfaceDetail = true;
         b.AddConverter();
         return nullptr;
     },
     1},
    {"no interface detail readable",
     [](SimBus &b) -> SimDevice * {
         b.AddConverter();
         b.failInterfaceDetail = true;
         return nullptr;
     },
     0},
};

// The bus with hidDevice looking for the converter.
struct MatchingBus : SimFixture {
    MatchingBus() { MatchConverter(); }
    // An empty bus and the converter's match again, whatever a row changed.
    void Restart()
    {
        bus.Reset();
        MatchConverter();
    }
};

}  // namespace

TEST_CASE_FIXTURE(MatchingBus, "A converter spoilt in one respect is passed over, and the next one is found")
{
    for (const auto &s : spoilt) {
        CAPTURE(s.what);
        Restart();
        SimDevice &bad = bus.AddConverter();
        s.spoil(bad);
        CheckNotFound();
        SimDevice &good = bus.AddConverter();
        CheckFound(good);
        CHECK(bus.OpenHandles() == 0);
        CHECK(bus.OutstandingPreparsedData() == 0);
    }
}

TEST_CASE_FIXTURE(MatchingBus, "FindDevice finds exactly the interface that matches, opening each examined one once")
{
    for (const auto &s : searches) {
        CAPTURE(s.what);
        Restart();
        const SimDevice *expected = s.setUp(bus);
        CHECK(hidDevice.FindDevice() == (expected ? 1 : 0));
        CHECK(PathOf() == (expected ? expected->path : ""));
        CHECK(bus.OpenHandlesTotal() == s.opens);
        CHECK(bus.OpenHandles() == 0);
        CHECK(bus.OpenDeviceInfoLists() == 0);
    }
}

TEST_CASE_FIXTURE(MatchingBus, "A converter another program holds exclusively is still found")
{
    SimDevice &converter = bus.AddConverter();
    HANDLE held =
        Sys().CreateFileA(converter.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    CheckFound(converter);
    Sys().CloseHandle(held);
}

TEST_CASE_FIXTURE(MatchingBus, "With two converters the first one listed wins, the second once the first is gone")
{
    SimDevice &first = bus.AddConverter();
    SimDevice &second = bus.AddConverter();
    CheckFound(first);
    bus.Unplug(first);
    CheckFound(second);
}

TEST_CASE_FIXTURE(MatchingBus, "Unplugged, the converter is not found; plugged back, it is, round after round")
{
    SimDevice &converter = bus.AddConverter();
    for (int round = 0; round < 2; ++round) {
        CheckFound(converter);
        bus.Unplug(converter);
        CheckNotFound();
        CHECK(hidDevice.deviceFound == 1);  // only the removal handling clears it
        bus.Replug(converter);
    }
}

TEST_CASE_FIXTURE(MatchingBus, "Each search frees the path of the one before and the detail blocks it took")
{
    SimDevice &converter = bus.AddConverter();
    CountingHeap heap;
    REQUIRE(hidDevice.FindDevice() == 1);
    const char *first = hidDevice.devicePath;
    CHECK(heap.Outstanding() == 1);  // the path
    REQUIRE(hidDevice.FindDevice() == 1);
    CHECK(heap.Released(first));
    CHECK(hidDevice.devicePath != first);
    CHECK(PathOf() == converter.path);
    CHECK(heap.Outstanding() == 1);
}

TEST_CASE_FIXTURE(MatchingBus, "Memory that cannot be had")
{
    SimDevice &converter = bus.AddConverter();
    SUBCASE("for the interface detail: the search ends without a match")
    {
        bus.AddConverter();
        CountingHeap heap(1);
        CHECK(hidDevice.FindDevice() == 0);
        CHECK(heap.Allocations() == 1);  // the second converter was not tried
        CHECK(hidDevice.devicePath == nullptr);
        CHECK(bus.OpenHandlesTotal() == 0);
    }
    SUBCASE("for the path copy: found, but no path stored")
    {
        hidDevice.deviceFound = 0;
        CountingHeap heap(2);  // the detail block, then the path
        CHECK(hidDevice.FindDevice() == 1);
        CHECK(hidDevice.deviceFound == 1);
        CHECK(hidDevice.devicePath == nullptr);
        CHECK(heap.Outstanding() == 0);
    }
    // And the next search works again.
    CheckFound(converter);
}

TEST_CASE_FIXTURE(SimFixture, "SetMatch: a null string clears what was there; a long one is cut to the field")
{
    hidDevice.SetMatch(1, 2, 3, 8, 8, converterManufacturer, converterProduct);
    hidDevice.SetMatch(1, 2, 3, 8, 8, nullptr, nullptr);
    CHECK(hidDevice.match.manufacturer[0] == '\0');
    CHECK(hidDevice.match.product[0] == '\0');
    const std::string longText(400, 'x');
    hidDevice.SetMatch(1, 2, 3, 8, 8, longText.c_str(), "p");
    CHECK(std::strlen(hidDevice.match.manufacturer) == 259);
    CHECK(std::string(hidDevice.match.product) == "p");
}
