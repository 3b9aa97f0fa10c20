// Open, the reader thread and Close: reports as the owner receives them,
// reads that complete at once, read failures, stopping the reader (also
// one that will not stop) and the bookkeeping of handles and threads.
#include "tests/device/hotplug_support.h"

#include <doctest.h>

#include <deque>
#include <vector>

namespace {

constexpr uint32_t statusUnsuccessful = 0xC0000001u;

// ReadFile that puts a report on the device just before each read, so
// every read finds its report waiting.
std::deque<sim::Report> reportsBeforeReads;
int readsCompletedAtOnce = 0;
sim::SimDevice *feedDevice = nullptr;
BOOL(WINAPI *realReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) = nullptr;

BOOL WINAPI FeedingReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped)
{
    if (!reportsBeforeReads.empty()) {
        feedDevice->PushInputReport(reportsBeforeReads.front());
        reportsBeforeReads.pop_front();
    }
    const BOOL result = realReadFile(handle, buffer, length, read, overlapped);
    if (result)
        ++readsCompletedAtOnce;
    return result;
}

// ReadFile whose second call cannot start.
int readCalls = 0;
BOOL WINAPI SecondReadRefused(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped)
{
    if (++readCalls == 2) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    return realReadFile(handle, buffer, length, read, overlapped);
}

// A completion wait that ignores the reader's wake until the test opens
// the gate, like a driver that never gives the read back.
HANDLE gate = nullptr;
HANDLE waiting = nullptr;  // set once the reader is in the wait
BOOL(WINAPI *realGetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL) = nullptr;
BOOL WINAPI DeafWait(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD count, BOOL wait)
{
    SetEvent(waiting);
    WaitForSingleObject(gate, INFINITE);
    return realGetOverlappedResult(handle, overlapped, count, wait);
}

// CloseHandle that notes how many reads were still in flight when the
// device's handles were closed.
std::vector<int> pendingAtClose;
BOOL(WINAPI *realCloseHandle)(HANDLE) = nullptr;
BOOL WINAPI NotingCloseHandle(HANDLE handle)
{
    pendingAtClose.push_back(sim::SimBus::Instance().PendingReads());
    return realCloseHandle(handle);
}

}  // namespace

TEST_CASE_FIXTURE(AttachedFixture, "Reports reach the owner in order, bytes 1-4 in lParam, 5-8 in wParam")
{
    REQUIRE(device.Open() == 1);
    std::vector<sim::Report> sent;
    for (uint8_t i = 0; i < 24; ++i) {  // within the driver's 32 input buffers
        sent.push_back(MakeReport({1, 0x11, i, 0x33, 0x44, 0x55, 0x66, static_cast<uint8_t>(~i), 0x88}));
        converter.PushInputReport(sent.back());
    }
    REQUIRE(owner.WaitForCount(sent.size()));
    device.Close();
    owner.Pump();
    CHECK(owner.Received().size() == sent.size());
    CheckReports(owner, sent);
}

TEST_CASE_FIXTURE(AttachedFixture, "A read that completes at once is a report like any other")
{
    BoundaryOverride<decltype(DeviceSyscalls::ReadFile)> feeding(&DeviceSyscalls::ReadFile, FeedingReadFile);
    realReadFile = feeding.Original();
    feedDevice = &converter;
    readsCompletedAtOnce = 0;
    std::vector<sim::Report> sent;
    for (uint8_t i = 1; i <= 5; ++i)
        sent.push_back(MakeReport({0, i, 0, 0, 0, static_cast<uint8_t>(i * 16)}));
    reportsBeforeReads.assign(sent.begin(), sent.end());

    SUBCASE("ReadFile returns TRUE")
    {
        converter.completeReadsAtOnce = true;
        REQUIRE(device.Open() == 1);
        REQUIRE(owner.WaitForCount(5));
        CHECK(readsCompletedAtOnce == 5);
    }
    SUBCASE("ReadFile says pending, though the read is done")
    {
        REQUIRE(device.Open() == 1);
        REQUIRE(owner.WaitForCount(5));
        CHECK(readsCompletedAtOnce == 0);
    }
    device.Close();
    owner.Pump();
    CheckReports(owner, sent);
    CHECK(owner.StatusCodes().empty());
}

TEST_CASE_FIXTURE(AttachedFixture, "A read error closes the device before the owner hears code 2, if still current")
{
    FailNextRead();
    REQUIRE(device.Open() == 1);
    ThreadWatch reader(device.readerThread);
    // The report must fail a read in flight, not one that is starting.
    REQUIRE(WaitUntil([&] { return bus.PendingReads() == 1; }));
    converter.PushInputReport(MakeReport({0, 1, 2, 3, 4, 5, 6, 7, 8}));
    // The reader has posted its failure to the hidden window, not yet handled.
    REQUIRE(reader.Ended(5000));

    SUBCASE("handled: the device closed, then code 2")
    {
        REQUIRE(owner.WaitForCount(1));
        CHECK(owner.StatusCodes() == Codes{HIDCOM_READ_STOPPED});
        CHECK(owner.Received()[0].lParam == statusUnsuccessful);
        CheckClosed(device);
        CHECK(bus.PendingReads() == 0);
        owner.Clear();
        SUBCASE("the device is still found; the owner reopens it")
        {
            CHECK(device.deviceFound == 1);
            REQUIRE(device.Open() == 1);
            const sim::Report report = MakeReport({0, 0x10, 0, 0, 0, 0x20});
            CheckReportDelivered(converter, owner, report);
            device.Close();
        }
        SUBCASE("an arrival does not search again")
        {
            const int opens = bus.OpenHandlesTotal();
            sim::SimDevice &mouse = bus.AddWineMouse();
            bus.Unplug(mouse);
            bus.Replug(mouse);
            owner.Pump();
            CHECK(bus.OpenHandlesTotal() == opens);
        }
    }
    SUBCASE("out of date: the owner closed the device first")
    {
        device.Close();
        CheckNothingPosted(owner);
    }
    SUBCASE("out of date: the owner reopened it, and the new reader stays open")
    {
        device.Close();
        REQUIRE(device.Open() == 1);
        CheckNothingPosted(owner);
        CHECK(device.IsOpen());
        CHECK(bus.OpenHandles() == 2);
        const sim::Report report = MakeReport({0, 0x42});
        CheckReportDelivered(converter, owner, report);
        device.Close();
    }
    SUBCASE("Open while the failed reader is not yet closed changes nothing")
    {
        const int opens = bus.OpenHandlesTotal();
        CHECK(device.Open() == 1);
        CHECK(bus.OpenHandlesTotal() == opens);
        REQUIRE(owner.WaitForCount(1));
        CHECK(owner.StatusCodes() == Codes{HIDCOM_READ_STOPPED});
        CHECK_FALSE(device.IsOpen());
    }
}

TEST_CASE_FIXTURE(AttachedFixture, "A read that cannot start is reported with the thread's error")
{
    BoundaryOverride<decltype(DeviceSyscalls::ReadFile)> refusing(&DeviceSyscalls::ReadFile, SecondReadRefused);
    realReadFile = refusing.Original();
    readCalls = 0;
    REQUIRE(device.Open() == 1);
    const sim::Report report = MakeReport({0, 0xAA, 0, 0, 0, 0xBB});
    converter.PushInputReport(report);

    REQUIRE(owner.WaitForCount(2));
    CheckReports(owner, {report});
    CHECK(owner.StatusCodes() == Codes{HIDCOM_READ_STOPPED});
    CHECK(owner.Received()[1].lParam == ERROR_INVALID_USER_BUFFER);
    CheckClosed(device);
}

TEST_CASE_FIXTURE(SimFixture, "Open before any match returns 0 and opens nothing")
{
    sim::SimDevice &converter = bus.AddConverter();
    hid_com device;
    MatchConverter(device);
    SUBCASE("never attached, never found") { CHECK(device.Open() == 0); }
    SUBCASE("found once, but the path is gone")
    {
        REQUIRE(device.FindDevice() == 1);
        bus.failRegisterNotification = true;  // nobody hears of the removal
        bus.Unplug(converter);
        REQUIRE(device.FindDevice() == 0);
        REQUIRE(device.deviceFound == 1);
        CHECK(device.Open() == 0);
    }
    CheckClosed(device);
}

TEST_CASE_FIXTURE(AttachedFixture, "An open that fails closes what it had opened")
{
    SUBCASE("the read handle is refused")
    {
        converter.failOpenRead = true;
        CHECK(device.Open() == 0);
        CHECK(OpensSinceAttach() == 0);
    }
    SUBCASE("the write handle is refused")
    {
        converter.failOpenWrite = true;
        CHECK(device.Open() == 0);
        CHECK(OpensSinceAttach() == 1);  // the read handle, closed again
    }
    CheckClosed(device);
    converter.failOpenRead = false;
    converter.failOpenWrite = false;
    REQUIRE(device.Open() == 1);
    device.Close();
}

TEST_CASE_FIXTURE(AttachedFixture, "Open twice opens once; Close stops the reader, ends its read, closes all, once")
{
    device.Close();  // nothing open: nothing to do
    CHECK(OpensSinceAttach() == 0);
    REQUIRE(device.Open() == 1);
    const HANDLE thread = device.readerThread;
    CHECK(device.Open() == 1);
    CHECK(device.readerThread == thread);
    CHECK(OpensSinceAttach() == 2);
    CHECK(bus.OpenHandles() == 2);
    CHECK(device.startedEvent == nullptr);

    ThreadWatch reader(device.readerThread);
    const HANDLE wake = device.readOverlapped.hEvent;
    REQUIRE(HandleOpen(thread));
    REQUIRE(HandleOpen(wake));
    BoundaryOverride<decltype(DeviceSyscalls::CloseHandle)> noting(&DeviceSyscalls::CloseHandle, NotingCloseHandle);
    realCloseHandle = noting.Original();
    pendingAtClose.clear();

    device.Close();
    CHECK(reader.Ended());
    // The reader's read was over before the handles went.
    CHECK(pendingAtClose == std::vector<int>{0, 0});
    CHECK_FALSE(HandleOpen(thread));
    CHECK_FALSE(HandleOpen(wake));
    device.Close();
    CHECK(pendingAtClose.size() == 2);
    CheckClosed(device);
    owner.Pump();
    CHECK(owner.Received().empty());  // a stop request posts nothing
}

TEST_CASE_FIXTURE(AttachedFixture, "Open and Close many times leave no thread and no handle behind")
{
    const int threads = ProcessThreadCount();
    REQUIRE(threads > 0);
    for (int round = 0; round < 50; ++round) {
        REQUIRE(device.Open() == 1);
        converter.PushInputReport(MakeReport({0, static_cast<uint8_t>(round)}));
        REQUIRE(owner.WaitForCount(static_cast<size_t>(round + 1)));
        device.Close();
    }
    CHECK(owner.StatusCodes().empty());
    CHECK(ProcessThreadCount() == threads);
    CHECK(OpensSinceAttach() == 100);
}

TEST_CASE_FIXTURE(AttachedFixture, "A reader that does not stop within 5000 ms still has its handles closed")
{
    gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    waiting = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        BoundaryOverride<decltype(DeviceSyscalls::GetOverlappedResult)> deaf(&DeviceSyscalls::GetOverlappedResult,
                                                                             DeafWait);
        realGetOverlappedResult = deaf.Original();
        REQUIRE(device.Open() == 1);
        ThreadWatch reader(device.readerThread);
        REQUIRE(WaitForSingleObject(waiting, 5000) == WAIT_OBJECT_0);

        device.Close();  // gives up after its bounded wait
        CHECK_FALSE(reader.Ended());
        CheckClosed(device);
        CHECK(bus.PendingReads() == 0);  // closing the handle ended the read

        // Let go, the reader finds its stop request and ends in silence.
        SetEvent(gate);
        CHECK(reader.Ended(5000));
    }
    CloseHandle(gate);
    CloseHandle(waiting);
    gate = waiting = nullptr;
    CheckNothingPosted(owner);
}
