// Pauses and waits through the boundary, in virtual and in real time.
#include "tests/device/device_test_support.h"
#include "tests/support/sim_fixture.h"

#include "device/device_syscalls.h"

#include <mmsystem.h>
#include <process.h>

namespace {
unsigned __stdcall SetLater(void *event)
{
    Sleep(20);
    SetEvent(static_cast<HANDLE>(event));
    return 0;
}
}  // namespace

TEST_CASE_FIXTURE(SimFixture, "Virtual pauses move the clock and are recorded")
{
    CHECK(bus.NowMs() == 0);
    Sys().Sleep(5);
    Sys().Sleep(100);
    CHECK(bus.NowMs() == 105);
    CHECK(bus.Sleeps() == std::vector<DWORD>{5, 100});
}

TEST_CASE_FIXTURE(SimFixture, "Timer resolution requests are counted")
{
    CHECK(Sys().TimeBeginPeriod(1) == TIMERR_NOERROR);
    CHECK(Sys().TimeBeginPeriod(1) == TIMERR_NOERROR);
    CHECK(bus.TimerPeriodDepth() == 2);
    CHECK(Sys().TimeEndPeriod(1) == TIMERR_NOERROR);
    CHECK(Sys().TimeEndPeriod(1) == TIMERR_NOERROR);
    CHECK(bus.TimerPeriodDepth() == 0);
    CHECK(Sys().TimeEndPeriod(1) == TIMERR_NOCANDO);  // nothing to end
    CHECK(bus.TimerPeriodDepth() == 0);
}

TEST_CASE_FIXTURE(SimFixture, "Waits through the boundary")
{
    OwnEvent event;
    SUBCASE("a signalled event returns at once and the clock stays") {
        SetEvent(event.handle);
        CHECK(Sys().WaitForSingleObject(event.handle, 500) == WAIT_OBJECT_0);
        CHECK(bus.NowMs() == 0);
    }
    SUBCASE("an event no read waits on is waited for really") {
        HANDLE setter = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, SetLater, event.handle, 0, nullptr));
        CHECK(Sys().WaitForSingleObject(event.handle, 10000) == WAIT_OBJECT_0);
        CHECK(bus.NowMs() == 0);
        WaitForSingleObject(setter, 5000);
        CloseHandle(setter);
    }
    SUBCASE("a read no report can complete expires at once in virtual time") {
        sim::SimDevice &converter = bus.AddConverter();
        HANDLE in = OpenDevice(converter, GENERIC_READ, FILE_FLAG_OVERLAPPED);
        OVERLAPPED o = {};
        o.hEvent = event.handle;
        uint8_t buffer[9];
        Sys().ReadFile(in, buffer, 9, nullptr, &o);
        CHECK(Sys().WaitForSingleObject(event.handle, 500) == WAIT_TIMEOUT);
        CHECK(bus.NowMs() == 500);
        Sys().CloseHandle(in);
    }
}

TEST_CASE_FIXTURE(SimFixture, "Real time: pauses and waits take their time")
{
    bus.SetRealTime(true, 1000);
    CHECK(bus.RealTime());
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE in = OpenDevice(converter, GENERIC_READ, FILE_FLAG_OVERLAPPED);
    OwnEvent event;
    OVERLAPPED o = {};
    o.hEvent = event.handle;
    uint8_t buffer[9];
    Sys().ReadFile(in, buffer, 9, nullptr, &o);
    const ULONGLONG start = GetTickCount64();
    CHECK(Sys().WaitForSingleObject(event.handle, 60) == WAIT_TIMEOUT);
    Sys().Sleep(40);
    // Lower bounds only: the tick count is coarse, but neither call may
    // have returned at once.
    CHECK(GetTickCount64() - start >= 60);
    CHECK(bus.Sleeps() == std::vector<DWORD>{40});
    Sys().CloseHandle(in);

    bus.SetRealTime(false);
    const uint64_t frozen = bus.NowMs();
    Sleep(30);
    CHECK(bus.NowMs() == frozen);  // virtual again: the clock waits for pauses
}
