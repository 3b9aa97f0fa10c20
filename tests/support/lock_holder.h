// Another ZYR program, as far as the converter lock goes: a thread of the
// test process holds the lock (a mutex belongs to the thread that took it,
// so the code under test, on any other thread or in another process, finds
// it taken). The thread can also end while holding it, as a program that
// was killed would leave it.
#pragma once

#include "base/no_copy.h"

#include <windows.h>

class LockHolder : private NoCopy {
public:
    // Takes the lock; fails the test if it cannot.
    LockHolder();
    // Lets the lock go (unless abandoned) and closes its handle.
    ~LockHolder();

    // Lets it go now; the test process keeps no hold.
    void Release();
    // The holding thread ends without letting it go; the handle stays open
    // until this object goes, so the lock is there, abandoned.
    void Abandon();

private:
    static DWORD WINAPI Hold(void *self);
    enum class Order { none, release, abandon };
    void Tell(Order order);

    HANDLE mutex = nullptr;
    HANDLE thread = nullptr;
    HANDLE held = nullptr;  // set once the thread holds the lock
    HANDLE told = nullptr;  // set when `order` is given
    Order order = Order::none;
};

// True when the converter lock exists in the system: someone has a handle
// on it.
bool ConverterLockExists();
// True when the lock can be taken at once from a new thread (and is let go
// again): nobody holds it.
bool ConverterLockFree();
