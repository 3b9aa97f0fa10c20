// Waiting on the calling thread's message queue: what the system and the
// device code post to a window on this thread arrives only while the thread
// pumps, so a wait for it must pump too, sleeping in between until the next
// message comes.
#pragma once

#include <windows.h>

// Calls `pump` (which handles every message waiting now) until `done`
// holds or `timeoutMs` has passed; true when it held.
template <class Pump, class Done> bool PumpUntil(Pump pump, Done done, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        pump();
        if (done())
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}
