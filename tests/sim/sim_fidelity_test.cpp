// The simulated bus behaves like Windows where the program relies on it
// and no test of the program would notice a difference: the detail
// protocol's size checks, string lengths in bytes, whole reports, the life
// of an overlapped read, virtual time, per-device faults and the records
// of device-change notifications.
#include "tests/device/device_test_support.h"
#include "tests/device/notify_window.h"
#include "tests/support/sim_fixture.h"

#include "device/device_syscalls.h"

#include <cstddef>
#include <string>
#include <vector>

namespace {

GUID HidGuid()
{
    GUID guid = {};
    hidDevice.library.GetHidGuid(&guid);
    return guid;
}

// The wide string a buffer of `bytes` receives; '#' marks what was untouched.
std::wstring Fill(HANDLE handle, ULONG bytes)
{
    wchar_t wide[16];
    for (wchar_t &c : wide)
        c = L'#';
    CHECK(hidDevice.library.GetManufacturerString(handle, wide, bytes));
    return std::wstring(wide, 16);
}

struct Seen {
    WPARAM event;
    DWORD size;
    DWORD type;
    GUID classGuid;
    std::string name;
};
std::vector<Seen> seen;

// Copies the record while it is valid: the message is sent, not posted.
LRESULT CALLBACK Listener(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_DEVICECHANGE || !lParam)
        return DefWindowProcA(window, message, wParam, lParam);
    const auto *r = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A *>(lParam);
    seen.push_back(Seen{wParam, r->dbcc_size, r->dbcc_devicetype, r->dbcc_classguid, r->dbcc_name});
    return TRUE;
}

}  // namespace

TEST_CASE_FIXTURE(SimFixture, "The interface detail: a size query, then a fill that checks cbSize and room")
{
    sim::SimDevice &converter = bus.AddConverter();
    GUID guid = HidGuid();
    HDEVINFO list = Sys().SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    REQUIRE(Sys().SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &data));
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + converter.path.size() + 1);

    DWORD size = 0;
    CHECK_FALSE(Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &size, nullptr));
    CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    CHECK(size == needed);

    const DWORD otherWidth = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5 ? 8 : 5;
    const struct {
        const char *what;
        DWORD cbSize;
        DWORD room;
        DWORD error;  // 0: filled
    } cases[] = {
        {"this width's structure size", sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), needed, 0},
        {"the whole block's size", needed, needed, ERROR_INVALID_USER_BUFFER},
        {"the other width's structure size", otherWidth, needed, ERROR_INVALID_USER_BUFFER},
        {"one byte short", sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), needed - 1, ERROR_INSUFFICIENT_BUFFER},
    };
    for (const auto &c : cases) {
        CAPTURE(c.what);
        std::vector<char> block(needed + 8);
        auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.data());
        detail->cbSize = c.cbSize;
        DWORD again = 0;
        const BOOL filled = Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, detail, c.room, &again, nullptr);
        CHECK(filled == (c.error == 0));
        if (filled)
            CHECK(std::string(detail->DevicePath) == converter.path);
        else
            CHECK(GetLastError() == c.error);
        if (c.error == ERROR_INSUFFICIENT_BUFFER)
            CHECK(again == needed);
    }
    Sys().SetupDiDestroyDeviceInfoList(list);
}

TEST_CASE_FIXTURE(SimFixture, "Strings honour the buffer length in bytes and need no room for a terminator")
{
    sim::SimDevice &converter = bus.AddConverter();  // "Brantix": 7 characters, 14 bytes
    HANDLE h = OpenDevice(converter, 0);
    const struct {
        ULONG bytes;
        std::wstring expected;
    } cases[] = {
        {16, std::wstring(L"Brantix") + L'\0' + std::wstring(8, L'#')},  // room for the terminator
        {14, L"Brantix" + std::wstring(9, L'#')},  // exactly full: none written
        {15, L"Brantix" + std::wstring(9, L'#')},  // whole characters only
        {6, L"Bra" + std::wstring(13, L'#')},  // too small: cut
    };
    for (const auto &c : cases) {
        CAPTURE(c.bytes);
        CHECK(Fill(h, c.bytes) == c.expected);
    }
    Sys().CloseHandle(h);
}

TEST_CASE_FIXTURE(SimFixture, "Reports go whole: shorter writes and reads are refused, and nothing is lost")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE in = OpenDevice(converter, GENERIC_READ);
    HANDLE out = OpenDevice(converter, GENERIC_WRITE);
    DWORD count = 0;
    CHECK_FALSE(Sys().WriteFile(out, ReadRequest(1).data(), 8, &count, nullptr));
    CHECK(GetLastError() == ERROR_INVALID_USER_BUFFER);
    CHECK(converter.ReadsOf(1) == 0);
    REQUIRE(Send(out, ReadRequest(1)));
    sim::Report reply{};
    CHECK_FALSE(Sys().ReadFile(in, reply.data(), 8, &count, nullptr));
    CHECK(GetLastError() == ERROR_INVALID_USER_BUFFER);
    CHECK(Receive(in, reply));  // the report is still there
    // Register 1's value, then registers 2 to 6, which the reply carries too.
    const auto r = converter.Registers();
    CHECK(reply == sim::Report{0, 2, 1, 0x0C, r[2], r[3], r[4], r[5], r[6]});
    Sys().CloseHandle(in);
    Sys().CloseHandle(out);
}

TEST_CASE_FIXTURE(SimFixture, "An overlapped read: pending until a report, a cancel, a close or a removal ends it")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE in = OpenDevice(converter, GENERIC_READ, FILE_FLAG_OVERLAPPED);
    OverlappedRead read;
    auto &[event, o, buffer] = read;
    memset(buffer, 0xEE, sizeof buffer);
    DWORD count = 77;

    SetEvent(event.handle);  // ReadFile resets it as it starts
    CHECK_FALSE(Sys().ReadFile(in, buffer, 9, &count, &o));
    CHECK(GetLastError() == ERROR_IO_PENDING);
    CHECK(o.Internal == 0x103);  // STATUS_PENDING
    CHECK_FALSE(event.Signalled());
    CHECK_FALSE(Sys().GetOverlappedResult(in, &o, &count, FALSE));
    CHECK(GetLastError() == ERROR_IO_INCOMPLETE);

    SUBCASE("a report completes it")
    {
        converter.PushInputReport(sim::Report{0, 1, 2, 3});
        CHECK(event.Signalled());
        CHECK(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(count == 9);
        CHECK(buffer[3] == 3);
    }
    SUBCASE("CancelIoEx aborts it, the buffer untouched; a second cancel finds nothing")
    {
        CHECK(Sys().CancelIoEx(in, &o));
        CHECK(event.Signalled());
        CHECK_FALSE(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(GetLastError() == ERROR_OPERATION_ABORTED);
        CHECK(count == 0);
        CHECK(buffer[0] == 0xEE);
        CHECK_FALSE(Sys().CancelIoEx(in, &o));
        CHECK(GetLastError() == ERROR_NOT_FOUND);
    }
    SUBCASE("closing the handle cancels it")
    {
        Sys().CloseHandle(in);
        in = INVALID_HANDLE_VALUE;
        CHECK(event.Signalled());
        CHECK(o.Internal == 0xC0000120);  // STATUS_CANCELLED
        CHECK(buffer[0] == 0xEE);
    }
    SUBCASE("a removal fails it, and the old handle stays dead after the device is back")
    {
        bus.Unplug(converter);
        CHECK(event.Signalled());
        CHECK_FALSE(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(GetLastError() == ERROR_DEVICE_NOT_CONNECTED);
        bus.Replug(converter);
        CHECK_FALSE(Sys().ReadFile(in, buffer, 9, &count, &o));
        CHECK(GetLastError() == ERROR_DEVICE_NOT_CONNECTED);
    }
    if (in != INVALID_HANDLE_VALUE)
        Sys().CloseHandle(in);
}

TEST_CASE_FIXTURE(SimFixture, "Virtual time: an hour of pauses and waits passes at once, on the bus's clock")
{
    // Were these real, the run would outlast its timeout.
    const DWORD hour = 3600 * 1000;
    Sys().Sleep(5);
    Sys().Sleep(hour);
    CHECK(bus.NowMs() == hour + 5);
    CHECK(bus.Sleeps() == std::vector<DWORD>{5, hour});

    sim::SimDevice &converter = bus.AddConverter();
    converter.AddFault({sim::FaultRule::NoReply, 2, -1});
    HANDLE in = OpenDevice(converter, GENERIC_READ, FILE_FLAG_OVERLAPPED);
    HANDLE out = OpenDevice(converter, GENERIC_WRITE);
    OverlappedRead read;
    auto &[event, o, buffer] = read;
    REQUIRE(Send(out, ReadRequest(7)));
    CHECK_FALSE(Sys().ReadFile(in, buffer, 9, nullptr, &o));
    CHECK(Sys().WaitForSingleObject(event.handle, hour) == WAIT_TIMEOUT);
    CHECK(bus.NowMs() == 2 * hour + 5);
    Sys().CloseHandle(in);
    Sys().CloseHandle(out);
}

TEST_CASE_FIXTURE(SimFixture, "A fault on one converter leaves the other and its registers alone")
{
    sim::SimDevice &faulty = bus.AddConverter();
    sim::SimDevice &sound = bus.AddConverter();
    faulty.AddFault({sim::FaultRule::SendFails, 0, -1});
    HANDLE a = OpenDevice(faulty, GENERIC_WRITE);
    HANDLE b = OpenDevice(sound, GENERIC_WRITE);
    CHECK_FALSE(Send(a, WriteRequest(5, 1)));
    CHECK(Send(b, WriteRequest(5, 2)));
    CHECK(faulty.Register(5) == sim::FactoryRegisters()[5]);
    CHECK(sound.Register(5) == 2);
    Sys().CloseHandle(a);
    Sys().CloseHandle(b);
}

TEST_CASE_FIXTURE(SimFixture, "A registered window hears removal and arrival with the interface's record")
{
    sim::SimDevice &converter = bus.AddConverter();
    HWND window = CreateClassWindow("ZyrSimListener", Listener, HWND_MESSAGE);
    REQUIRE(window != nullptr);
    DEV_BROADCAST_DEVICEINTERFACE_A filter = InterfaceFilter(HidGuid());
    filter.dbcc_size = sizeof(DEV_BROADCAST_HDR);  // a header alone is refused
    CHECK(Sys().RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE) == nullptr);
    CHECK(GetLastError() == ERROR_INVALID_DATA);
    filter.dbcc_size = sizeof filter;
    HDEVNOTIFY handle = Sys().RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    REQUIRE(handle != nullptr);

    seen.clear();
    bus.Unplug(converter);
    bus.Replug(converter);
    REQUIRE(seen.size() == 2);  // handled already: the messages were sent
    CHECK(seen[0].event == DBT_DEVICEREMOVECOMPLETE);
    CHECK(seen[1].event == DBT_DEVICEARRIVAL);
    for (const Seen &s : seen) {
        CHECK(s.type == DBT_DEVTYP_DEVICEINTERFACE);
        CHECK(IsEqualGUID(s.classGuid, filter.dbcc_classguid));
        CHECK(s.name == converter.NotificationName());
        CHECK(s.size == offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + s.name.size() + 1);
    }
    CHECK(Sys().UnregisterDeviceNotification(handle));
    bus.Unplug(converter);
    CHECK(seen.size() == 2);
    DestroyWindow(window);
}
