// Pauses and waits through the boundary. In virtual time a pause only
// moves the clock, and a wait for a reply that nothing can bring any more
// expires at once; in real time both take as long as they say.
#include "sim/sim_entry_points.h"
#include "sim/sim_state.h"

#include <mmsystem.h>

namespace sim::detail {

namespace {

BusState &Bus()
{
    return SimBus::Instance().State();
}

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

}  // namespace

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD timeoutMs)
{
    const DWORD now = ::WaitForSingleObject(handle, 0);
    if (now != WAIT_TIMEOUT || timeoutMs == 0)
        return now;
    BusState &bus = Bus();
    bool expireAtOnce;
    {
        std::lock_guard<std::mutex> hold(bus.lock);
        expireAtOnce = !bus.realTime && timeoutMs != INFINITE && StalledReadEvent(bus, handle);
        if (expireAtOnce)
            bus.virtualMs += timeoutMs;
    }
    if (!expireAtOnce)
        return ::WaitForSingleObject(handle, timeoutMs);
    RunDueReplugs();
    return WAIT_TIMEOUT;
}

VOID WINAPI Sleep(DWORD ms)
{
    BusState &bus = Bus();
    bool realTime;
    {
        std::lock_guard<std::mutex> hold(bus.lock);
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
    BusState &bus = Bus();
    {
        std::lock_guard<std::mutex> hold(bus.lock);
        ++bus.timerDepth;
    }
    // The real timer too: the demo and the benchmark pause for real.
    timeBeginPeriod(ms);
    return TIMERR_NOERROR;
}

UINT WINAPI TimeEndPeriod(UINT ms)
{
    BusState &bus = Bus();
    {
        std::lock_guard<std::mutex> hold(bus.lock);
        if (bus.timerDepth == 0)
            return TIMERR_NOCANDO;
        --bus.timerDepth;
    }
    timeEndPeriod(ms);
    return TIMERR_NOERROR;
}

}  // namespace sim::detail
