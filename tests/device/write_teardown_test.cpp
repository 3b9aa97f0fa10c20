// WriteReport, FindIfIdle and the teardown that the destructor runs.
#include "tests/device/hotplug_support.h"

#include <doctest.h>

#include <string>
#include <vector>

namespace {

// The converter's read-register request.
sim::Report ReadRequest(uint8_t address) { return MakeReport({0, 2, address}); }

}  // namespace

TEST_CASE_FIXTURE(AttachedFixture, "WriteReport sends one report; the converter's reply reaches the owner")
{
    REQUIRE(device.Open() == 1);
    converter.SetRegister(3, 0x5A);
    const sim::Report request = ReadRequest(3);

    CHECK(device.WriteReport(request.data()) == 1);
    const std::vector<sim::Transfer> traffic = bus.Traffic();
    REQUIRE(traffic.size() >= 1);
    CHECK(traffic[0].toDevice);
    CHECK(traffic[0].bytes == request);
    CHECK(converter.ReadsOf(3) == 1);

    REQUIRE(owner.WaitForCount(1));
    // Command 2, register 3, value 0x5A, and the registers after it.
    const auto r = converter.Registers();
    CheckReports(owner, {MakeReport({0, 2, 3, 0x5A, r[4], r[5], r[6], r[7], r[8]})});
    device.Close();
}

TEST_CASE_FIXTURE(AttachedFixture, "WriteReport fails when it cannot write a whole report")
{
    const sim::Report request = ReadRequest(1);
    SUBCASE("the device is not open") { CHECK(device.WriteReport(request.data()) == 0); }
    SUBCASE("no buffer")
    {
        REQUIRE(device.Open() == 1);
        CHECK(device.WriteReport(nullptr) == 0);
    }
    // The converter's side of the write goes wrong in the way `fault` says.
    const auto writeFailsUnder = [&](sim::FaultRule::Kind fault) {
        converter.AddFault({fault});
        REQUIRE(device.Open() == 1);
        CHECK(device.WriteReport(request.data()) == 0);
    };
    SUBCASE("the write fails") { writeFailsUnder(sim::FaultRule::SendFails); }
    SUBCASE("the write reports no bytes written") { writeFailsUnder(sim::FaultRule::SendZero); }
    SUBCASE("the device went away under it")
    {
        REQUIRE(device.Open() == 1);
        bus.Unplug(converter);
        CHECK(device.WriteReport(request.data()) == 0);
    }
    CHECK(converter.ReadsOf(1) == 0);
    device.Close();
}

TEST_CASE_FIXTURE(AttachedFixture, "FindIfIdle searches only while no reader runs")
{
    const int opens = bus.OpenHandlesTotal();
    CHECK(device.FindIfIdle() == 1);
    CHECK(bus.OpenHandlesTotal() == opens + 1);  // the search opened the candidate

    REQUIRE(device.Open() == 1);
    const int opened = bus.OpenHandlesTotal();
    CHECK(device.FindIfIdle() == 0);
    CHECK(bus.OpenHandlesTotal() == opened);
    device.Close();

    bus.Unplug(converter);
    CHECK(device.FindIfIdle() == 0);
    CHECK(device.devicePath == nullptr);
}

TEST_CASE_FIXTURE(SimFixture, "A destroyed object leaves no handle, thread, window class or registration")
{
    sim::SimDevice &converter = bus.AddConverter();
    OwnerWindow owner;
    const int threads = ProcessThreadCount();
    REQUIRE(threads > 0);
    std::string name;
    HWND hidden = nullptr;
    auto *device = new hid_com;
    MatchConverter(*device);
    REQUIRE(device->Attach(owner.Handle()) == 1);
    REQUIRE(owner.WaitForCount(1));
    owner.Clear();
    name = device->className;
    hidden = device->window;

    SUBCASE("reading")
    {
        REQUIRE(device->Open() == 1);
        ThreadWatch running(device->readerThread);
        const HANDLE thread = device->readerThread;
        const HANDLE wake = device->readOverlapped.hEvent;
        converter.PushInputReport(MakeReport({0, 1}));
        REQUIRE(owner.WaitForCount(1));
        CHECK(bus.OpenHandles() == 2);
        CHECK(ProcessThreadCount() == threads + 1);
        delete device;
        CHECK(running.Ended());
        CHECK_FALSE(HandleOpen(thread));
        CHECK_FALSE(HandleOpen(wake));
    }
    SUBCASE("found, never opened") { delete device; }
    CHECK(bus.OpenHandles() == 0);
    CHECK(bus.PendingReads() == 0);
    CHECK(bus.NotificationRegistrations() == 0);
    CHECK_FALSE(IsWindow(hidden));
    CHECK_FALSE(ClassRegistered(name));
    CHECK(ProcessThreadCount() == threads);
    // Nothing posted by the teardown.
    owner.Clear();
    CheckNothingPosted(owner);
}
