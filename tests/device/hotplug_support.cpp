// Helpers of the hot-plug tests: the owner window and its message pump,
// the attached fixture, the reader-thread watch and the Toolhelp thread count.
#include "tests/device/hotplug_support.h"

#include "tests/support/pump_until.h"

#include <tlhelp32.h>

#include <doctest.h>

#include <algorithm>

OwnerWindow::OwnerWindow()
{
    window = CreateWindowExA(0, "STATIC", "hot-plug owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
}

OwnerWindow::~OwnerWindow()
{
    // Nothing meant for this owner may stay behind for the next test.
    Pump();
    DestroyWindow(window);
}

bool OwnerWindow::PumpOne(MSG &msg)
{
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        return false;
    if (msg.hwnd == window && (msg.message == WM_HIDCOM_STATUS || msg.message == WM_HIDCOM_REPORT)) {
        received.push_back(Posted{msg.message, msg.wParam, static_cast<uint32_t>(msg.lParam)});
        return true;
    }
    DispatchMessageA(&msg);
    return true;
}

void OwnerWindow::Pump()
{
    MSG msg;
    while (PumpOne(msg)) {
    }
}

bool OwnerWindow::WaitForCount(size_t count, DWORD timeoutMs)
{
    return PumpUntil([this] { Pump(); }, [&] { return received.size() >= count; }, timeoutMs);
}

std::vector<WPARAM> OwnerWindow::StatusCodes() const
{
    std::vector<WPARAM> codes;
    for (const Posted &p : received)
        if (p.message == WM_HIDCOM_STATUS)
            codes.push_back(p.wParam);
    return codes;
}

ThreadWatch::ThreadWatch(HANDLE thread)
{
    if (thread)
        DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &handle, SYNCHRONIZE, FALSE, 0);
}

ThreadWatch::~ThreadWatch()
{
    if (handle)
        CloseHandle(handle);
}

bool ThreadWatch::Ended(DWORD timeoutMs) const
{
    return handle && WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0;
}

bool WaitUntil(const std::function<bool()> &condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(1);
    }
    return true;
}

bool HandleOpen(HANDLE handle)
{
    DWORD flags = 0;
    return handle && GetHandleInformation(handle, &flags) != 0;
}

int ProcessThreadCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    CloseHandle(snapshot);
    return count;
}

bool ClassRegistered(const std::string &name)
{
    WNDCLASSEXA info = {};
    info.cbSize = sizeof info;
    return GetClassInfoExA(GetModuleHandleA(nullptr), name.c_str(), &info) != 0;
}

sim::Report MakeReport(std::initializer_list<uint8_t> bytes)
{
    sim::Report report{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), report.size()), report.begin());
    return report;
}

void CheckReports(const OwnerWindow &owner, const std::vector<sim::Report> &sent)
{
    std::vector<Posted> reports;
    for (const Posted &p : owner.Received())
        if (p.message == WM_HIDCOM_REPORT)
            reports.push_back(p);
    REQUIRE(reports.size() == sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        CAPTURE(i);
        const sim::Report &r = sent[i];
        CHECK(reports[i].lParam == (r[1] | r[2] << 8 | r[3] << 16 | static_cast<uint32_t>(r[4]) << 24));
        CHECK(reports[i].wParam == (r[5] | r[6] << 8 | r[7] << 16 | static_cast<uint32_t>(r[8]) << 24));
    }
}

void CheckReportDelivered(sim::SimDevice &converter, OwnerWindow &owner, const sim::Report &report)
{
    converter.PushInputReport(report);
    REQUIRE(owner.WaitForCount(1));
    CheckReports(owner, {report});
}

void CheckClosed(const hid_com &device)
{
    CHECK_FALSE(device.IsOpen());
    CHECK(device.comReadHandle == INVALID_HANDLE_VALUE);
    CHECK(device.comWriteHandle == INVALID_HANDLE_VALUE);
    CHECK(device.readOverlapped.hEvent == nullptr);
    CHECK(device.startedEvent == nullptr);
    CHECK(sim::SimBus::Instance().OpenHandles() == 0);
}

void CheckNotRegistered(const hid_com &device)
{
    CHECK(device.notifyHandle == nullptr);
    CHECK(sim::SimBus::Instance().NotificationRegistrations() == 0);
}

void CheckNothingPosted(OwnerWindow &owner)
{
    owner.Pump();
    CHECK(owner.Received().empty());
}

AttachedFixture::AttachedFixture() : converter(bus.AddConverter())
{
    MatchConverter(device);
    REQUIRE(device.Attach(owner.Handle()) == 1);
    REQUIRE(owner.WaitForCount(1));
    REQUIRE(owner.StatusCodes() == Codes{HIDCOM_DEVICE_FOUND});
    owner.Clear();
    opensByAttach = bus.OpenHandlesTotal();
}

void AttachedFixture::FailNextRead()
{
    // Any command, any address, none skipped, once.
    converter.AddFault(sim::FaultRule{sim::FaultRule::ReceiveFails, 0, -1, 0, 1});
}
