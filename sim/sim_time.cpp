// Pauses and waits through the boundary. In virtual time a pause only
// moves the clock, and a wait for a reply that nothing can bring any more
// expires at once; in real time both take as long as they say. Late
// replies that have fallen due are delivered as each of them begins.
#include "sim/sim_entry_points.h"
#include "sim/sim_state.h"

#include <mmsystem.h>

#include <algorithm>
#include <optional>

namespace sim::detail {

namespace {

// Whether `event` belongs to an overlapped read still waiting for a report.
// Reports come only from requests and from the test itself, so in virtual
// time nothing will complete it while the waiter waits.
bool StalledReadEvent(BusState &bus, HANDLE event)
{
    for (const auto &entry : bus.files)
        for (const PendingRead &read : entry.second->pending) {
            if (EventOf(read.overlapped) == event)
                return true;
        }
    return false;
}

// Real time: the wait wakes whenever a late reply falls due, so the reply
// comes at its time and may end the wait.
DWORD RealTimeWait(BusState &bus, HANDLE handle, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        DWORD slice = INFINITE;
        {
            std::unique_lock<std::mutex> hold = bus.LockDelivered();
            const uint64_t now = bus.NowMsLocked();
            if (timeoutMs != INFINITE) {
                const ULONGLONG tick = GetTickCount64();
                slice = tick >= deadline ? 0 : static_cast<DWORD>(deadline - tick);
            }
            if (std::optional<uint64_t> next = bus.NextLateReplyMs())
                slice = std::min<DWORD>(slice, *next > now ? static_cast<DWORD>(*next - now) : 0);
        }
        const DWORD result = ::WaitForSingleObject(handle, slice);
        if (result != WAIT_TIMEOUT)
            return result;
        if (timeoutMs != INFINITE && GetTickCount64() >= deadline)
            return WAIT_TIMEOUT;
    }
}

}  // namespace

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD timeoutMs)
{
    BusState &bus = Bus();
    std::unique_lock<std::mutex> hold = bus.LockDelivered();
    hold.unlock();
    const DWORD now = ::WaitForSingleObject(handle, 0);
    if (now != WAIT_TIMEOUT || timeoutMs == 0)
        return now;
    hold.lock();
    if (bus.realTime) {
        const bool lateOnTheWay = bus.NextLateReplyMs().has_value();
        hold.unlock();
        return lateOnTheWay ? RealTimeWait(bus, handle, timeoutMs) : ::WaitForSingleObject(handle, timeoutMs);
    }
    if (timeoutMs == INFINITE || !StalledReadEvent(bus, handle)) {
        hold.unlock();
        return ::WaitForSingleObject(handle, timeoutMs);
    }
    // Virtual time: late replies due within the wait come at their time,
    // each of which may end it; otherwise the wait expires at once.
    const uint64_t deadline = bus.virtualMs + timeoutMs;
    for (;;) {
        const std::optional<uint64_t> next = bus.NextLateReplyMs();
        if (!next || *next > deadline)
            break;
        bus.virtualMs = std::max(bus.virtualMs, *next);
        bus.DeliverDueLocked();
        if (::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0)
            return WAIT_OBJECT_0;
    }
    bus.virtualMs = deadline;
    hold.unlock();
    RunDueReplugs();
    return WAIT_TIMEOUT;
}

VOID WINAPI Sleep(DWORD ms)
{
    BusState &bus = Bus();
    bool realTime;
    {
        std::unique_lock<std::mutex> hold = bus.LockDelivered();
        bus.sleeps.push_back(ms);
        realTime = bus.realTime;
        if (!realTime)
            bus.virtualMs += ms;
    }
    if (realTime)
        ::Sleep(ms);
    RunDueReplugs();
}

UINT WINAPI TimeBeginPeriod(UINT ms)
{
    UnderLock(Bus(), [](BusState &bus) { ++bus.timerDepth; });
    // The real timer too: the demo and the benchmark pause for real.
    timeBeginPeriod(ms);
    return TIMERR_NOERROR;
}

UINT WINAPI TimeEndPeriod(UINT ms)
{
    const bool begun = UnderLock(Bus(), [](BusState &bus) {
        if (bus.timerDepth == 0)
            return false;
        --bus.timerDepth;
        return true;
    });
    if (!begun)
        return TIMERR_NOCANDO;
    timeEndPeriod(ms);
    return TIMERR_NOERROR;
}

}  // namespace sim::detail
