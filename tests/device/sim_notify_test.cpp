// Device-change registrations on the bus, and the WM_DEVICECHANGE messages
// that Unplug and Replug send to registered windows.
#include "tests/device/device_test_support.h"
#include "tests/support/sim_fixture.h"

#include "device/device_syscalls.h"

#include <process.h>

#include <string>
#include <vector>

namespace {

struct Seen {
    WPARAM event;
    DWORD size;
    DWORD type;
    GUID classGuid;
    std::string name;
    DWORD thread;
};
std::vector<Seen> seen;

// Copies the record while it is valid: the message is sent, so the record
// lives until this returns.
LRESULT CALLBACK Listener(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DEVICECHANGE && lParam) {
        const auto *record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A *>(lParam);
        seen.push_back(Seen{wParam, record->dbcc_size, record->dbcc_devicetype, record->dbcc_classguid,
                            record->dbcc_name, GetCurrentThreadId()});
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateListener()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Listener;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ZyrSimListener";
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

DEV_BROADCAST_DEVICEINTERFACE_A HidFilter()
{
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    hidDevice.library.GetHidGuid(&filter.dbcc_classguid);
    return filter;
}

// A thread with a listening window and a message loop.
struct UiThread {
    HWND window = nullptr;
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD thread = 0;
    static unsigned __stdcall Run(void *self)
    {
        auto *u = static_cast<UiThread *>(self);
        u->window = CreateListener();
        u->thread = GetCurrentThreadId();
        SetEvent(u->ready);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0)
            DispatchMessageA(&msg);
        DestroyWindow(u->window);
        return 0;
    }
};

}  // namespace

TEST_CASE("The filter structure has the size Windows expects on this width")
{
    CHECK(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);
    CHECK(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) == 28);
}

TEST_CASE_FIXTURE(SimFixture, "Registering for device changes")
{
    HWND window = CreateListener();
    REQUIRE(window != nullptr);
    DEV_BROADCAST_DEVICEINTERFACE_A filter = HidFilter();

    SUBCASE("a whole device-interface filter is accepted") {
        HDEVNOTIFY handle = Sys().RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        CHECK(handle != nullptr);
        CHECK(bus.NotificationRegistrations() == 1);
        CHECK(Sys().UnregisterDeviceNotification(handle));
        CHECK(bus.NotificationRegistrations() == 0);
        CHECK_FALSE(Sys().UnregisterDeviceNotification(handle));
    }
    SUBCASE("a filter with the header's size only is refused") {
        filter.dbcc_size = sizeof(DEV_BROADCAST_HDR);
        CHECK(Sys().RegisterDeviceNotificationA(window, &filter, 0) == nullptr);
        CHECK(GetLastError() == ERROR_INVALID_DATA);
    }
    SUBCASE("a filter of another type is refused") {
        filter.dbcc_devicetype = DBT_DEVTYP_HANDLE;
        CHECK(Sys().RegisterDeviceNotificationA(window, &filter, 0) == nullptr);
    }
    SUBCASE("a recipient that is not a window is refused") {
        CHECK(Sys().RegisterDeviceNotificationA(reinterpret_cast<HANDLE>(0x1234), &filter, 0) == nullptr);
    }
    SUBCASE("the failure switch") {
        bus.failRegisterNotification = true;
        CHECK(Sys().RegisterDeviceNotificationA(window, &filter, 0) == nullptr);
        CHECK(bus.NotificationRegistrations() == 0);
    }
    DestroyWindow(window);
}

TEST_CASE_FIXTURE(SimFixture, "Unplug and Replug notify registered windows with the interface's name")
{
    sim::SimDevice &converter = bus.AddConverter();
    HWND window = CreateListener();
    DEV_BROADCAST_DEVICEINTERFACE_A filter = HidFilter();
    HDEVNOTIFY handle = Sys().RegisterDeviceNotificationA(window, &filter, 0);
    REQUIRE(handle != nullptr);
    seen.clear();

    bus.Unplug(converter);
    bus.Unplug(converter);  // already gone: nothing more
    bus.Replug(converter);
    REQUIRE(seen.size() == 2);
    CHECK(seen[0].event == DBT_DEVICEREMOVECOMPLETE);
    CHECK(seen[1].event == DBT_DEVICEARRIVAL);
    for (const Seen &s : seen) {
        CHECK(s.type == DBT_DEVTYP_DEVICEINTERFACE);
        CHECK(IsEqualGUID(s.classGuid, filter.dbcc_classguid));
        CHECK(s.name == converter.NotificationName());
        CHECK(s.size == offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + s.name.size() + 1);
    }
    CHECK(bus.NotificationsSent() == 2);

    Sys().UnregisterDeviceNotification(handle);
    bus.Unplug(converter);
    CHECK(seen.size() == 2);
    DestroyWindow(window);
}

TEST_CASE_FIXTURE(SimFixture, "Notifications reach a window of another thread before Unplug returns")
{
    sim::SimDevice &converter = bus.AddConverter();
    UiThread ui;
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, UiThread::Run, &ui, 0, nullptr));
    REQUIRE(WaitForSingleObject(ui.ready, 5000) == WAIT_OBJECT_0);
    DEV_BROADCAST_DEVICEINTERFACE_A filter = HidFilter();
    HDEVNOTIFY handle = Sys().RegisterDeviceNotificationA(ui.window, &filter, 0);
    seen.clear();
    bus.Unplug(converter);
    REQUIRE(seen.size() == 1);  // handled already: the message was sent
    CHECK(seen[0].thread == ui.thread);
    Sys().UnregisterDeviceNotification(handle);
    PostThreadMessageA(ui.thread, WM_QUIT, 0, 0);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(ui.ready);
}

TEST_CASE_FIXTURE(SimFixture, "Registrations for another class hear nothing of HID devices")
{
    sim::SimDevice &converter = bus.AddConverter();
    HWND window = CreateListener();
    DEV_BROADCAST_DEVICEINTERFACE_A filter = HidFilter();
    filter.dbcc_classguid.Data1 ^= 1;
    HDEVNOTIFY other = Sys().RegisterDeviceNotificationA(window, &filter, 0);
    seen.clear();
    bus.Unplug(converter);
    CHECK(seen.empty());
    HDEVNOTIFY all = Sys().RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    bus.Replug(converter);
    CHECK(seen.size() == 1);
    Sys().UnregisterDeviceNotification(other);
    Sys().UnregisterDeviceNotification(all);
    DestroyWindow(window);
}
