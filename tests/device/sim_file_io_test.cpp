// The simulated bus's file I/O: opening interface paths, the converter's
// register firmware, synchronous and overlapped reads, cancellation and
// removal, as the HID class driver behaves.
#include "tests/device/device_test_support.h"
#include "tests/support/sim_fixture.h"

#include "device/device_syscalls.h"

#include <process.h>

namespace {

// A synchronous ReadFile on its own thread, so a test can watch it block.
struct BlockedRead {
    explicit BlockedRead(HANDLE handle) : handle(handle)
    {
        thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, this, 0, nullptr));
    }
    ~BlockedRead()
    {
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
    }
    bool Finished(DWORD ms) const { return WaitForSingleObject(thread, ms) == WAIT_OBJECT_0; }
    static unsigned __stdcall Run(void *self)
    {
        auto *r = static_cast<BlockedRead *>(self);
        r->ok = Sys().ReadFile(r->handle, r->report.data(), 9, &r->count, nullptr);
        r->error = GetLastError();
        return 0;
    }
    HANDLE handle;
    HANDLE thread = nullptr;
    sim::Report report{};
    DWORD count = 0;
    BOOL ok = FALSE;
    DWORD error = 0;
};

// Waits (really) until the bus sees `n` synchronous readers blocked.
bool WaitBlocked(sim::SimBus &bus, int n)
{
    for (int i = 0; i < 1000; ++i) {
        if (bus.BlockedReads() == n)
            return true;
        Sleep(2);
    }
    return false;
}

unsigned __stdcall PushLater(void *device)
{
    Sleep(30);
    static_cast<sim::SimDevice *>(device)->PushInputReport(sim::Report{0, 9, 9, 9});
    return 0;
}

}  // namespace

TEST_CASE_FIXTURE(SimFixture, "Opening interface paths")
{
    sim::SimDevice &converter = bus.AddConverter();
    SUBCASE("handles are fake, aligned, distinct and never reused") {
        HANDLE a = OpenDevice(converter, GENERIC_READ);
        HANDLE b = OpenDevice(converter, GENERIC_WRITE);
        REQUIRE(a != INVALID_HANDLE_VALUE);
        REQUIRE(b != INVALID_HANDLE_VALUE);
        CHECK(a != b);
        CHECK(reinterpret_cast<uintptr_t>(a) >= 0x7E000000);
        CHECK(reinterpret_cast<uintptr_t>(a) % 4 == 0);
        CHECK(bus.OpenHandles() == 2);
        CHECK(Sys().CloseHandle(a));
        HANDLE c = OpenDevice(converter, 0);
        CHECK(c != a);
        CHECK(Sys().CloseHandle(b));
        CHECK(Sys().CloseHandle(c));
        CHECK(bus.OpenHandlesTotal() == 3);
    }
    SUBCASE("closing twice fails the second time") {
        HANDLE a = OpenDevice(converter, 0);
        CHECK(Sys().CloseHandle(a));
        SetLastError(0);
        CHECK_FALSE(Sys().CloseHandle(a));
        CHECK(GetLastError() == ERROR_INVALID_HANDLE);
    }
    SUBCASE("paths compare without regard to letter case") {
        HANDLE a = Sys().CreateFileA(converter.NotificationName().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        CHECK(a != INVALID_HANDLE_VALUE);
        Sys().CloseHandle(a);
    }
    SUBCASE("an unknown or absent device is not found") {
        HANDLE a = Sys().CreateFileA("\\\\?\\hid#vid_0000&pid_0000#0#{x}", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        CHECK(a == INVALID_HANDLE_VALUE);
        CHECK(GetLastError() == ERROR_FILE_NOT_FOUND);
        bus.Unplug(converter);
        CHECK(OpenDevice(converter, 0) == INVALID_HANDLE_VALUE);
        CHECK(GetLastError() == ERROR_FILE_NOT_FOUND);
    }
    SUBCASE("only OPEN_EXISTING opens a device") {
        HANDLE a = Sys().CreateFileA(converter.path.c_str(), GENERIC_READ, 3, nullptr, CREATE_ALWAYS, 0, nullptr);
        CHECK(a == INVALID_HANDLE_VALUE);
    }
    SUBCASE("sharing is enforced between data opens, not for query opens") {
        HANDLE exclusive = Sys().CreateFileA(converter.path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                             nullptr);
        REQUIRE(exclusive != INVALID_HANDLE_VALUE);
        CHECK(OpenDevice(converter, GENERIC_WRITE) == INVALID_HANDLE_VALUE);
        CHECK(GetLastError() == ERROR_SHARING_VIOLATION);
        HANDLE query = OpenDevice(converter, 0);
        CHECK(query != INVALID_HANDLE_VALUE);
        Sys().CloseHandle(query);
        Sys().CloseHandle(exclusive);
    }
    SUBCASE("handles that are not the bus's go to Win32") {
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        CHECK(Sys().CloseHandle(event));
        CHECK(bus.OpenHandles() == 0);
    }
}

TEST_CASE_FIXTURE(SimFixture, "Open faults by access, after a number of good opens")
{
    sim::SimDevice &converter = bus.AddConverter();
    SUBCASE("read") {
        converter.failOpenRead = true;
        converter.opensBeforeFailure = 1;
        HANDLE first = OpenDevice(converter, GENERIC_READ);
        CHECK(first != INVALID_HANDLE_VALUE);
        CHECK(OpenDevice(converter, GENERIC_READ) == INVALID_HANDLE_VALUE);
        CHECK(GetLastError() == ERROR_ACCESS_DENIED);
        HANDLE write = OpenDevice(converter, GENERIC_WRITE);  // unaffected
        CHECK(write != INVALID_HANDLE_VALUE);
        Sys().CloseHandle(first);
        Sys().CloseHandle(write);
    }
    SUBCASE("write, at once") {
        converter.failOpenWrite = true;
        CHECK(OpenDevice(converter, GENERIC_WRITE) == INVALID_HANDLE_VALUE);
        CHECK(OpenDevice(converter, GENERIC_READ | GENERIC_WRITE) == INVALID_HANDLE_VALUE);
        HANDLE query = OpenDevice(converter, 0);
        CHECK(query != INVALID_HANDLE_VALUE);
        Sys().CloseHandle(query);
    }
    SUBCASE("query") {
        converter.failOpenQuery = true;
        CHECK(OpenDevice(converter, 0) == INVALID_HANDLE_VALUE);
        HANDLE read = OpenDevice(converter, GENERIC_READ);
        CHECK(read != INVALID_HANDLE_VALUE);
        Sys().CloseHandle(read);
    }
}

TEST_CASE_FIXTURE(SimFixture, "The converter's firmware answers register requests")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE in = OpenDevice(converter, GENERIC_READ);
    HANDLE out = OpenDevice(converter, GENERIC_WRITE);
    sim::Report reply{};

    SUBCASE("factory registers: firmware 12300, type 2") {
        CHECK(converter.Register(1) == 0x0C);
        CHECK(converter.Register(2) == 0x30);
        CHECK(converter.Register(3) == 2);
        CHECK(converter.Register(4) == 0);
        CHECK(converter.Registers() == sim::FactoryRegisters());
    }
    SUBCASE("a read request is answered with one report: echo and value") {
        converter.SetRegister(77, 0xA5);
        REQUIRE(Send(out, ReadRequest(77)));
        REQUIRE(Receive(in, reply));
        CHECK(reply == sim::Report{0, 2, 77, 0xA5, 0, 0, 0, 0, 0});
        CHECK(converter.ReadsOf(77) == 1);
    }
    SUBCASE("a write request stores the value and is not answered") {
        REQUIRE(Send(out, WriteRequest(200, 0x3C)));
        CHECK(converter.Register(200) == 0x3C);
        CHECK(converter.WritesTo(200) == 1);
        CHECK(bus.Traffic().size() == 1);  // the request, no reply
    }
    SUBCASE("other commands are ignored") {
        REQUIRE(Send(out, sim::Report{0, 7, 1, 0xEE, 0, 0, 0, 0, 0}));
        CHECK(converter.Registers() == sim::FactoryRegisters());
        CHECK(bus.Traffic().size() == 1);
    }
    SUBCASE("traffic records both directions with the device's path") {
        Send(out, ReadRequest(3));
        Receive(in, reply);
        const std::vector<sim::Transfer> traffic = bus.Traffic();
        REQUIRE(traffic.size() == 2);
        CHECK(traffic[0].toDevice);
        CHECK(traffic[0].bytes == ReadRequest(3));
        CHECK_FALSE(traffic[1].toDevice);
        CHECK(traffic[1].bytes[3] == 2);
        CHECK(traffic[1].path == converter.path);
        bus.ClearTraffic();
        CHECK(bus.Traffic().empty());
    }
    SUBCASE("bad output reports are refused") {
        DWORD written = 99;
        sim::Report withId = ReadRequest(1);
        withId[0] = 5;
        CHECK_FALSE(Sys().WriteFile(out, withId.data(), 9, &written, nullptr));
        CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
        CHECK(written == 0);
        CHECK_FALSE(Sys().WriteFile(out, withId.data(), 8, &written, nullptr));
        CHECK(GetLastError() == ERROR_INVALID_USER_BUFFER);
        CHECK_FALSE(Sys().WriteFile(in, ReadRequest(1).data(), 9, &written, nullptr));
        CHECK(GetLastError() == ERROR_ACCESS_DENIED);
        CHECK(converter.ReadsOf(1) == 0);
    }
    SUBCASE("a read needs a whole report's room and read access") {
        DWORD read = 0;
        Send(out, ReadRequest(1));
        CHECK_FALSE(Sys().ReadFile(in, reply.data(), 8, &read, nullptr));
        CHECK(GetLastError() == ERROR_INVALID_USER_BUFFER);
        CHECK_FALSE(Sys().ReadFile(out, reply.data(), 9, &read, nullptr));
        CHECK(GetLastError() == ERROR_ACCESS_DENIED);
        CHECK(Receive(in, reply));  // the report is still there
    }
    SUBCASE("two converters keep their own registers") {
        sim::SimDevice &other = bus.AddConverter();
        HANDLE otherOut = OpenDevice(other, GENERIC_WRITE);
        Send(otherOut, WriteRequest(20, 0x11));
        Send(out, WriteRequest(20, 0x22));
        CHECK(other.Register(20) == 0x11);
        CHECK(converter.Register(20) == 0x22);
        Sys().CloseHandle(otherOut);
    }
    SUBCASE("devices without firmware swallow output reports") {
        sim::DeviceIdentity id;
        id.inputReportLength = id.outputReportLength = 17;
        sim::SimDevice &twin = bus.AddDevice(id);
        HANDLE twinOut = OpenDevice(twin, GENERIC_WRITE);
        uint8_t report[17] = {0, 2, 1};
        DWORD written = 0;
        CHECK(Sys().WriteFile(twinOut, report, 17, &written, nullptr));
        CHECK(written == 17);
        CHECK(bus.Traffic().size() == 1);
        Sys().CloseHandle(twinOut);
    }
    Sys().CloseHandle(in);
    Sys().CloseHandle(out);
}

TEST_CASE_FIXTURE(SimFixture, "Each read handle has its own queue of input reports")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE out = OpenDevice(converter, GENERIC_WRITE);
    HANDLE first = OpenDevice(converter, GENERIC_READ);
    Send(out, ReadRequest(1));
    HANDLE late = OpenDevice(converter, GENERIC_READ);
    Send(out, ReadRequest(2));
    sim::Report r{};
    CHECK(Receive(first, r));
    CHECK(r[2] == 1);
    CHECK(Receive(first, r));
    CHECK(r[2] == 2);
    CHECK(Receive(late, r));  // opened after the first reply: sees the second only
    CHECK(r[2] == 2);

    SUBCASE("HidD_FlushQueue empties it") {
        Send(out, ReadRequest(3));
        CHECK(hidDevice.library.FlushQueue(late));
        converter.PushInputReport(sim::Report{0, 0, 0x55});
        CHECK(Receive(late, r));  // the reply to 3 is gone
        CHECK(r[2] == 0x55);
    }
    SUBCASE("the ring keeps the newest reports") {
        ULONG buffers = 0;
        CHECK(hidDevice.library.GetNumInputBuffers(first, &buffers));
        CHECK(buffers == 32);
        CHECK_FALSE(hidDevice.library.SetNumInputBuffers(first, 1));
        CHECK(hidDevice.library.SetNumInputBuffers(first, 2));
        for (uint8_t a = 10; a < 15; ++a)
            Send(out, ReadRequest(a));
        CHECK(Receive(first, r));
        CHECK(r[2] == 13);
    }
    Sys().CloseHandle(out);
    Sys().CloseHandle(first);
    Sys().CloseHandle(late);
}

TEST_CASE_FIXTURE(SimFixture, "A synchronous read blocks until something ends it")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE in = OpenDevice(converter, GENERIC_READ);
    REQUIRE(in != INVALID_HANDLE_VALUE);
    BlockedRead reader(in);
    REQUIRE(WaitBlocked(bus, 1));
    CHECK_FALSE(reader.Finished(50));

    SUBCASE("a report arrives") {
        converter.PushInputReport(sim::Report{0, 1, 2, 3, 4, 5, 6, 7, 8});
        REQUIRE(reader.Finished(5000));
        CHECK(reader.ok);
        CHECK(reader.count == 9);
        CHECK(reader.report == sim::Report{0, 1, 2, 3, 4, 5, 6, 7, 8});
        Sys().CloseHandle(in);
    }
    SUBCASE("the handle is closed") {
        Sys().CloseHandle(in);
        REQUIRE(reader.Finished(5000));
        CHECK_FALSE(reader.ok);
        CHECK(reader.error == ERROR_OPERATION_ABORTED);
    }
    SUBCASE("the device is removed") {
        bus.Unplug(converter);
        REQUIRE(reader.Finished(5000));
        CHECK_FALSE(reader.ok);
        CHECK(reader.error == ERROR_DEVICE_NOT_CONNECTED);
        Sys().CloseHandle(in);
    }
    SUBCASE("CancelIoEx on the handle") {
        CHECK(Sys().CancelIoEx(in, nullptr));
        REQUIRE(reader.Finished(5000));
        CHECK(reader.error == ERROR_OPERATION_ABORTED);
        Sys().CloseHandle(in);
    }
    CHECK(bus.BlockedReads() == 0);
}

TEST_CASE_FIXTURE(SimFixture, "Overlapped reads")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE in = OpenDevice(converter, GENERIC_READ, FILE_FLAG_OVERLAPPED);
    HANDLE out = OpenDevice(converter, GENERIC_WRITE);
    OwnEvent event;
    OVERLAPPED o = {};
    o.hEvent = event.handle;
    uint8_t buffer[9];
    memset(buffer, 0xEE, sizeof buffer);
    DWORD count = 77;

    SUBCASE("with a report queued: pending, but already complete") {
        Send(out, ReadRequest(3));
        SetEvent(event.handle);  // ReadFile resets it first
        CHECK_FALSE(Sys().ReadFile(in, buffer, 9, &count, &o));
        CHECK(GetLastError() == ERROR_IO_PENDING);
        CHECK(event.Signalled());
        CHECK(Sys().GetOverlappedResult(in, &o, &count, FALSE));
        CHECK(count == 9);
        CHECK(buffer[3] == 2);
    }
    SUBCASE("with a report queued and completeReadsAtOnce: TRUE at once") {
        converter.completeReadsAtOnce = true;
        Send(out, ReadRequest(1));
        CHECK(Sys().ReadFile(in, buffer, 9, &count, &o));
        CHECK(count == 9);
        CHECK(buffer[3] == 0x0C);
    }
    SUBCASE("without one: pending, the buffer untouched until the report comes") {
        CHECK_FALSE(Sys().ReadFile(in, buffer, 9, &count, &o));
        CHECK(GetLastError() == ERROR_IO_PENDING);
        CHECK(o.Internal == 0x103);  // STATUS_PENDING
        CHECK(bus.PendingReads() == 1);
        CHECK_FALSE(event.Signalled());
        CHECK_FALSE(Sys().GetOverlappedResult(in, &o, &count, FALSE));
        CHECK(GetLastError() == ERROR_IO_INCOMPLETE);
        CHECK(buffer[0] == 0xEE);

        Send(out, ReadRequest(2));
        CHECK(event.Signalled());
        CHECK(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(count == 9);
        CHECK(buffer[0] == 0);
        CHECK(buffer[3] == 0x30);
        CHECK(bus.PendingReads() == 0);
    }
    SUBCASE("a waiting GetOverlappedResult wakes when the report comes") {
        CHECK_FALSE(Sys().ReadFile(in, buffer, 9, &count, &o));
        HANDLE pusher = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, PushLater, &converter, 0, nullptr));
        CHECK(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(buffer[1] == 9);
        WaitForSingleObject(pusher, 5000);
        CloseHandle(pusher);
    }
    SUBCASE("CancelIoEx cancels it") {
        CHECK_FALSE(Sys().ReadFile(in, buffer, 9, &count, &o));
        CHECK(Sys().CancelIoEx(in, &o));
        CHECK(event.Signalled());
        CHECK_FALSE(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(GetLastError() == ERROR_OPERATION_ABORTED);
        CHECK(count == 0);
        CHECK(buffer[0] == 0xEE);
        SetLastError(0);
        CHECK_FALSE(Sys().CancelIoEx(in, &o));  // nothing left to cancel
        CHECK(GetLastError() == ERROR_NOT_FOUND);
    }
    SUBCASE("closing the handle cancels it") {
        CHECK_FALSE(Sys().ReadFile(in, buffer, 9, &count, &o));
        Sys().CloseHandle(in);
        in = INVALID_HANDLE_VALUE;
        CHECK(event.Signalled());
        CHECK(o.Internal == 0xC0000120);  // STATUS_CANCELLED
        CHECK(buffer[0] == 0xEE);
    }
    SUBCASE("the device going away fails it, and the old handles stay dead") {
        CHECK_FALSE(Sys().ReadFile(in, buffer, 9, &count, &o));
        bus.Unplug(converter);
        CHECK(event.Signalled());
        CHECK_FALSE(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(GetLastError() == ERROR_DEVICE_NOT_CONNECTED);
        bus.Replug(converter);
        CHECK_FALSE(Sys().ReadFile(in, buffer, 9, &count, &o));
        CHECK(GetLastError() == ERROR_DEVICE_NOT_CONNECTED);
        CHECK_FALSE(Send(out, ReadRequest(1)));
        CHECK(GetLastError() == ERROR_DEVICE_NOT_CONNECTED);
        HIDD_ATTRIBUTES attributes = {};
        attributes.Size = sizeof attributes;
        CHECK_FALSE(hidDevice.library.GetAttributes(in, &attributes));
        // New handles work.
        HANDLE fresh = OpenDevice(converter, GENERIC_WRITE);
        CHECK(Send(fresh, WriteRequest(9, 1)));
        Sys().CloseHandle(fresh);
    }
    SUBCASE("the caller may close its event while the read is pending") {
        HANDLE own = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        OVERLAPPED p = {};
        p.hEvent = own;
        CHECK_FALSE(Sys().ReadFile(in, buffer, 9, &count, &p));
        CloseHandle(own);
        // A new event may take the old handle's value; completion must
        // signal the event object the read started with, not this one.
        HANDLE reused = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        converter.PushInputReport(sim::Report{0, 4});
        CHECK(WaitForSingleObject(reused, 0) == WAIT_TIMEOUT);
        CHECK(p.Internal == 0);
        CHECK(buffer[1] == 4);
        CloseHandle(reused);
    }
    SUBCASE("an overlapped handle needs an OVERLAPPED") {
        CHECK_FALSE(Sys().ReadFile(in, buffer, 9, &count, nullptr));
        CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
    }
    if (in != INVALID_HANDLE_VALUE)
        Sys().CloseHandle(in);
    Sys().CloseHandle(out);
}

TEST_CASE_FIXTURE(SimFixture, "Overlapped writes complete at once")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE out = OpenDevice(converter, GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
    OwnEvent event;
    OVERLAPPED o = {};
    o.hEvent = event.handle;
    DWORD count = 0;
    sim::Report request = WriteRequest(40, 4);
    SUBCASE("reported pending, already signalled") {
        CHECK_FALSE(Sys().WriteFile(out, request.data(), 9, &count, &o));
        CHECK(GetLastError() == ERROR_IO_PENDING);
        CHECK(event.Signalled());
    }
    SUBCASE("or TRUE with completeWritesAtOnce") {
        converter.completeWritesAtOnce = true;
        CHECK(Sys().WriteFile(out, request.data(), 9, &count, &o));
        CHECK(count == 9);
    }
    CHECK(Sys().GetOverlappedResult(out, &o, &count, TRUE));
    CHECK(count == 9);
    CHECK(converter.Register(40) == 4);
    Sys().CloseHandle(out);
}

TEST_CASE_FIXTURE(SimFixture, "Reset ends what a test left behind")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE in = OpenDevice(converter, GENERIC_READ, FILE_FLAG_OVERLAPPED);
    OwnEvent event;
    OVERLAPPED o = {};
    o.hEvent = event.handle;
    uint8_t buffer[9];
    DWORD count = 0;
    Sys().ReadFile(in, buffer, 9, &count, &o);
    bus.failClassDevs = true;
    bus.Reset();
    CHECK(event.Signalled());
    CHECK(bus.OpenHandles() == 0);
    CHECK(bus.Devices().empty());
    CHECK_FALSE(bus.failClassDevs);
    CHECK(bus.NowMs() == 0);
    CHECK_FALSE(Sys().CloseHandle(in));  // gone with the reset
}
