// The system-wide lock that lets one ZYR program at a time talk to the
// converter. A HID stack hands every open handle its own copy of every
// input report, so two programs on the converter at once would each take
// the other's replies for their own. Every device operation of the dialog
// and every zyrctl command that reaches the converter holds this lock from
// before its device search until after its last close.
#pragma once

#include "base/no_copy.h"

#include <windows.h>

// A named mutex in the global namespace: shared by every session, elevated
// or not.
constexpr const char *converterLockName = "Global\\Brantix-ZYR-converter-16C0-03E8";

enum class LockResult {
    taken,  // this program holds the lock
    takenOver,  // held now; its last holder ended without letting it go
    busy,  // another ZYR program holds it: nothing may be sent
    failed,  // the lock could not be made or waited on: nothing may be sent
};

// True when the lock is held after a Take that returned `result`.
inline bool LockHeld(LockResult result) { return result == LockResult::taken || result == LockResult::takenOver; }

// One hold of the lock, by the thread that took it (a mutex belongs to the
// thread that waited for it); let go on every path out.
class ConverterLock : private NoCopy {
public:
    ConverterLock() = default;
    ~ConverterLock() { Release(); }

    // Waits at most `waitMs` for the lock, in slices, ending early when
    // `stop` (if given) returns true; a stop counts as busy. Taking it again
    // while held returns taken.
    LockResult Take(DWORD waitMs, bool (*stop)() = nullptr);
    void Release();
    bool Held() const { return held; }
    // The system's error code after a Take that failed.
    DWORD Error() const { return error; }

private:
    HANDLE mutex = nullptr;
    bool held = false;
    DWORD error = 0;
};
