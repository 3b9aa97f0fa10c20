#include "tests/support/lock_holder.h"

#include "protocol/converter_lock.h"

#include <doctest.h>

namespace {
constexpr DWORD lockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

DWORD WINAPI TryLock(void *)
{
    HANDLE mutex = CreateMutexExA(nullptr, converterLockName, 0, lockAccess);
    if (!mutex)
        return 2;
    const DWORD woke = WaitForSingleObject(mutex, 0);
    const bool taken = woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED;
    if (taken)
        ReleaseMutex(mutex);
    CloseHandle(mutex);
    return taken ? 0 : 1;
}
}  // namespace

LockHolder::LockHolder()
{
    held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    told = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    REQUIRE(held);
    REQUIRE(told);
    thread = CreateThread(nullptr, 0, Hold, this, 0, nullptr);
    REQUIRE(thread);
    HANDLE either[2] = {held, thread};
    REQUIRE_MESSAGE(WaitForMultipleObjects(2, either, FALSE, 10000) == WAIT_OBJECT_0,
                    "the test could not take the converter lock");
}

LockHolder::~LockHolder()
{
    if (thread) {
        Tell(Order::release);
        CloseHandle(thread);
    }
    if (mutex)
        CloseHandle(mutex);
    CloseHandle(held);
    CloseHandle(told);
}

void LockHolder::Tell(Order what)
{
    if (order != Order::none)
        return;
    order = what;
    SetEvent(told);
    CHECK(WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0);
}

void LockHolder::Release()
{
    Tell(Order::release);
    CloseHandle(mutex);
    mutex = nullptr;
}

void LockHolder::Abandon() { Tell(Order::abandon); }

DWORD WINAPI LockHolder::Hold(void *self)
{
    LockHolder &holder = *static_cast<LockHolder *>(self);
    holder.mutex = CreateMutexExA(nullptr, converterLockName, 0, lockAccess);
    if (!holder.mutex)
        return 1;
    const DWORD woke = WaitForSingleObject(holder.mutex, 0);
    if (woke != WAIT_OBJECT_0 && woke != WAIT_ABANDONED)
        return 1;
    SetEvent(holder.held);
    WaitForSingleObject(holder.told, INFINITE);
    if (holder.order == Order::release)
        ReleaseMutex(holder.mutex);
    return 0;
}

bool ConverterLockExists()
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, converterLockName);
    if (!mutex)
        return false;
    CloseHandle(mutex);
    return true;
}

bool ConverterLockFree()
{
    HANDLE thread = CreateThread(nullptr, 0, TryLock, nullptr, 0, nullptr);
    REQUIRE(thread);
    DWORD code = 3;
    if (WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0)
        GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code == 0;
}
