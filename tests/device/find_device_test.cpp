// FindDevice over the simulated bus: which interface matches, what is
// stored, and that every search leaves nothing open.
#include "tests/device/device_test_support.h"
#include "tests/support/sim_fixture.h"

#include <cstring>

namespace {

sim::DeviceIdentity ConverterIdentity()
{
    return sim::DeviceIdentity{};
}

}  // namespace

TEST_CASE_FIXTURE(SimFixture, "FindDevice picks the converter out of Wine's own devices")
{
    bus.AddWineMouse();
    bus.AddWineKeyboard();
    sim::SimDevice &converter = bus.AddConverter();
    MatchConverter();

    CHECK(hidDevice.FindDevice() == 1);
    CHECK(PathOf() == converter.path);
    CHECK(hidDevice.deviceFound == 1);
    // Every examined interface is opened once (no access rights) and closed.
    CHECK(bus.OpenHandlesTotal() == 3);
}

TEST_CASE_FIXTURE(SimFixture, "A device that differs in one criterion is never matched")
{
    sim::DeviceIdentity id = ConverterIdentity();
    SUBCASE("release 0x0101") { id.releaseNumber = 0x0101; }
    SUBCASE("manufacturer differing only in letter case") { id.manufacturer = "brantix"; }
    SUBCASE("product differing only in letter case") { id.product = "ZYR-usb"; }
    SUBCASE("manufacturer with a trailing blank") { id.manufacturer = "Brantix "; }
    SUBCASE("16-byte reports") {
        id.inputReportLength = 17;
        id.outputReportLength = 17;
    }
    SUBCASE("16-byte input reports only") { id.inputReportLength = 17; }
    SUBCASE("16-byte output reports only") { id.outputReportLength = 17; }
    SUBCASE("another vendor") { id.vendorId = 0x16C1; }
    SUBCASE("another product id") { id.productId = 0x03E9; }
    bus.AddDevice(id);
    MatchConverter();
    CHECK(hidDevice.FindDevice() == 0);
    CHECK(hidDevice.devicePath == nullptr);
}

TEST_CASE_FIXTURE(SimFixture, "The twins: release 0x0101 and 16-byte reports beside the converter")
{
    sim::DeviceIdentity newer = ConverterIdentity();
    newer.releaseNumber = 0x0101;
    newer.manufacturer = "brantix";
    newer.inputReportLength = newer.outputReportLength = 17;
    bus.AddDevice(newer);
    sim::DeviceIdentity wide = ConverterIdentity();
    wide.inputReportLength = wide.outputReportLength = 17;
    bus.AddDevice(wide);
    sim::SimDevice &converter = bus.AddConverter();
    MatchConverter();
    CHECK(hidDevice.FindDevice() == 1);
    CHECK(PathOf() == converter.path);
}

TEST_CASE_FIXTURE(SimFixture, "With two converters the first one listed wins")
{
    sim::SimDevice &first = bus.AddConverter();
    sim::SimDevice &second = bus.AddConverter();
    REQUIRE(first.path != second.path);
    MatchConverter();
    CHECK(hidDevice.FindDevice() == 1);
    CHECK(PathOf() == first.path);

    // With the first one gone, the second is found.
    bus.Unplug(first);
    CHECK(hidDevice.FindDevice() == 1);
    CHECK(PathOf() == second.path);
}

TEST_CASE_FIXTURE(SimFixture, "FindDevice twice frees the first path and stores a fresh copy")
{
    sim::SimDevice &converter = bus.AddConverter();
    MatchConverter();
    CountingHeap heap;
    REQUIRE(hidDevice.FindDevice() == 1);
    const char *first = hidDevice.devicePath;
    REQUIRE(first != nullptr);
    CHECK(heap.Outstanding() == 1);  // the path; the detail blocks went back

    REQUIRE(hidDevice.FindDevice() == 1);
    CHECK(heap.Released(first));
    CHECK(hidDevice.devicePath != first);
    CHECK(PathOf() == converter.path);
    CHECK(heap.Outstanding() == 1);
}

TEST_CASE_FIXTURE(SimFixture, "After the converter was unplugged FindDevice finds nothing")
{
    sim::SimDevice &converter = bus.AddConverter();
    MatchConverter();
    REQUIRE(hidDevice.FindDevice() == 1);
    REQUIRE(hidDevice.deviceFound == 1);

    bus.Unplug(converter);
    CHECK(hidDevice.FindDevice() == 0);
    CHECK(hidDevice.devicePath == nullptr);
    CHECK(hidDevice.deviceFound == 1);  // only the removal handling clears it

    bus.Replug(converter);
    CHECK(hidDevice.FindDevice() == 1);
    CHECK(PathOf() == converter.path);
}

TEST_CASE_FIXTURE(SimFixture, "SetMatch stores the criteria as FindDevice compares them")
{
    hid_com &d = hidDevice;
    SUBCASE("lengths are payload plus one, in 8 bits") {
        d.SetMatch(1, 2, 3, 8, 16, "a", "b");
        CHECK(d.match.vendorId == 1);
        CHECK(d.match.productId == 2);
        CHECK(d.match.releaseNumber == 3);
        CHECK(d.match.inputReportLength == 9);
        CHECK(d.match.outputReportLength == 17);
        d.SetMatch(1, 2, 3, 255, 255, "a", "b");
        CHECK(d.match.inputReportLength == 0);
        CHECK(d.match.outputReportLength == 0);
    }
    SUBCASE("a null string leaves its field empty, and clears what was there") {
        d.SetMatch(1, 2, 3, 8, 8, "Brantix", "ZYR-USB");
        d.SetMatch(1, 2, 3, 8, 8, nullptr, nullptr);
        CHECK(d.match.manufacturer[0] == '\0');
        CHECK(d.match.product[0] == '\0');
    }
    SUBCASE("a string longer than the field is cut at 259 characters") {
        const std::string longText(400, 'x');
        d.SetMatch(1, 2, 3, 8, 8, longText.c_str(), "p");
        CHECK(std::strlen(d.match.manufacturer) == 259);
        CHECK(std::string(d.match.product) == "p");
    }
}

TEST_CASE_FIXTURE(SimFixture, "A null product string matches only a device whose product reads as empty")
{
    sim::SimDevice &converter = bus.AddConverter();
    hidDevice.SetMatch(0x16C0, 0x03E8, 0x0100, 8, 8, "Brantix", nullptr);
    CHECK(hidDevice.FindDevice() == 0);

    sim::DeviceIdentity unnamed = ConverterIdentity();
    unnamed.product = "";
    sim::SimDevice &blank = bus.AddDevice(unnamed);
    CHECK(hidDevice.FindDevice() == 1);
    CHECK(PathOf() == blank.path);
    CHECK(PathOf() != converter.path);
}

TEST_CASE_FIXTURE(SimFixture, "A payload length of 255 matches only a device reporting length 0")
{
    sim::DeviceIdentity zero = ConverterIdentity();
    zero.inputReportLength = 0;
    zero.outputReportLength = 0;
    bus.AddConverter();  // 9 and 9: not this one
    sim::SimDevice &odd = bus.AddDevice(zero);
    hidDevice.SetMatch(0x16C0, 0x03E8, 0x0100, 255, 255, "Brantix", "ZYR-USB");
    CHECK(hidDevice.FindDevice() == 1);
    CHECK(PathOf() == odd.path);
}

TEST_CASE_FIXTURE(SimFixture, "Candidates that cannot be examined are passed over")
{
    MatchConverter();
    SUBCASE("one that cannot be opened is skipped") {
        sim::SimDevice &locked = bus.AddConverter();
        locked.failOpenQuery = true;
        sim::SimDevice &converter = bus.AddConverter();
        CHECK(hidDevice.FindDevice() == 1);
        CHECK(PathOf() == converter.path);
    }
    SUBCASE("one whose attributes cannot be read never matches") {
        sim::SimDevice &mute = bus.AddConverter();
        mute.failAttributes = true;
        CHECK(hidDevice.FindDevice() == 0);
        sim::SimDevice &converter = bus.AddConverter();
        CHECK(hidDevice.FindDevice() == 1);
        CHECK(PathOf() == converter.path);
    }
    SUBCASE("one whose capabilities cannot be read never matches") {
        SUBCASE("preparsed data") { bus.AddConverter().failPreparsedData = true; }
        SUBCASE("caps") { bus.AddConverter().failCaps = true; }
        CHECK(hidDevice.FindDevice() == 0);
        CHECK(bus.OutstandingPreparsedData() == 0);
    }
    SUBCASE("one whose strings cannot be read never matches") {
        bus.AddConverter().failStrings = true;
        CHECK(hidDevice.FindDevice() == 0);
    }
    CHECK(bus.OpenHandles() == 0);
}

TEST_CASE_FIXTURE(SimFixture, "A string that cannot be read leaves the one read before it")
{
    // The wide buffer is cleared once per candidate: when the product
    // cannot be read, the manufacturer text stands in for it.
    sim::DeviceIdentity same = ConverterIdentity();
    same.manufacturer = "Twin";
    same.product = "Twin";
    bus.AddDevice(same);
    hidDevice.SetMatch(0x16C0, 0x03E8, 0x0100, 8, 8, "Twin", "Twin");
    CHECK(hidDevice.FindDevice() == 1);
}

TEST_CASE_FIXTURE(SimFixture, "An interface detail that cannot be read ends the search")
{
    bus.AddWineMouse();
    sim::SimDevice &broken = bus.AddWineKeyboard();
    bus.AddConverter();
    MatchConverter();
    SUBCASE("for one interface: later ones are not examined") {
        broken.failInterfaceDetail = true;
        CHECK(hidDevice.FindDevice() == 0);
        CHECK(bus.OpenHandlesTotal() == 1);  // the mouse only
    }
    SUBCASE("for every interface") {
        bus.failInterfaceDetail = true;
        CHECK(hidDevice.FindDevice() == 0);
        CHECK(bus.OpenHandlesTotal() == 0);
    }
    CHECK(hidDevice.devicePath == nullptr);
}

TEST_CASE_FIXTURE(SimFixture, "SetupAPI refusing the list: nothing found, nothing opened")
{
    bus.AddConverter();
    MatchConverter();
    bus.failClassDevs = true;
    CHECK(hidDevice.FindDevice() == 0);
    CHECK(hidDevice.devicePath == nullptr);
    CHECK(bus.OpenHandlesTotal() == 0);
}

TEST_CASE_FIXTURE(SimFixture, "An empty bus: nothing found")
{
    MatchConverter();
    CHECK(hidDevice.FindDevice() == 0);
    CHECK(hidDevice.devicePath == nullptr);
}

TEST_CASE_FIXTURE(SimFixture, "Memory that cannot be had")
{
    sim::SimDevice &converter = bus.AddConverter();
    MatchConverter();
    SUBCASE("for the interface detail: the search ends without a match") {
        bus.AddConverter();
        CountingHeap heap(1);
        CHECK(hidDevice.FindDevice() == 0);
        CHECK(heap.Allocations() == 1);  // the second converter was not tried
        CHECK(hidDevice.devicePath == nullptr);
        CHECK(bus.OpenHandlesTotal() == 0);
    }
    SUBCASE("for the path copy: found, but no path stored") {
        hidDevice.deviceFound = 0;
        CountingHeap heap(2);  // the detail block, then the path
        CHECK(hidDevice.FindDevice() == 1);
        CHECK(hidDevice.deviceFound == 1);
        CHECK(hidDevice.devicePath == nullptr);
        CHECK(heap.Outstanding() == 0);
    }
    // And the next search works again.
    CHECK(hidDevice.FindDevice() == 1);
    CHECK(PathOf() == converter.path);
}

TEST_CASE_FIXTURE(SimFixture, "The path is found again after a device comes back")
{
    sim::SimDevice &converter = bus.AddConverter();
    MatchConverter();
    for (int round = 0; round < 3; ++round) {
        CHECK(hidDevice.FindDevice() == 1);
        bus.Unplug(converter);
        CHECK(hidDevice.FindDevice() == 0);
        bus.Replug(converter);
    }
    CHECK(bus.OpenDeviceInfoLists() == 0);
}
