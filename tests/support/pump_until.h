// Waiting for a condition. On the calling thread's message queue: what the
// system and the device code post to a window on this thread arrives only
// while the thread pumps, so a wait for it must pump too, sleeping in
// between until the next message comes. Elsewhere: polling.
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

// Asks `done` every `everyMs` until it holds or `timeoutMs` has passed;
// true when it held. For what another thread or process does, which needs
// no message of this thread's.
template <class Done> bool PollUntil(Done done, DWORD timeoutMs, DWORD everyMs = 20)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(everyMs);
    }
}
