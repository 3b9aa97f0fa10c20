#include "protocol/converter_lock.h"

#include "device/device_syscalls.h"

#include <sddl.h>

namespace {

// Every user may wait on the lock and let it go, and nothing more; the low
// integrity label lets a program run normally take a lock that an elevated
// one made (and the other way round), which the default descriptor of an
// elevated creator would refuse.
constexpr const char *lockSecurity = "D:(A;;0x00100001;;;WD)S:(ML;;NW;;;LW)";
constexpr DWORD lockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// Waits are sliced so that a stop request is seen within this time.
constexpr DWORD waitSliceMs = 50;

HANDLE OpenLockMutex(DWORD &error)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(lockSecurity, SDDL_REVISION_1, &descriptor, nullptr)) {
        error = GetLastError();
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE mutex = Sys().CreateMutexExA(&attributes, converterLockName, 0, lockAccess);
    error = mutex ? 0 : GetLastError();
    LocalFree(descriptor);
    return mutex;
}

}  // namespace

LockResult ConverterLock::Take(DWORD waitMs, bool (*stop)())
{
    if (held)
        return LockResult::taken;
    error = 0;
    if (!mutex) {
        mutex = OpenLockMutex(error);
        if (!mutex)
            return LockResult::failed;
    }
    DWORD waited = 0;
    for (;;) {
        const DWORD slice = waitMs - waited < waitSliceMs ? waitMs - waited : waitSliceMs;
        const DWORD woke = Sys().WaitForMutex(mutex, slice);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED) {
            // An abandoned lock is ours now: its holder ended mid-operation,
            // and what it left on the converter is the new holder's to find.
            held = true;
            return woke == WAIT_OBJECT_0 ? LockResult::taken : LockResult::takenOver;
        }
        if (woke != WAIT_TIMEOUT) {
            error = woke == WAIT_FAILED ? GetLastError() : woke;
            Release();
            return LockResult::failed;
        }
        waited += slice;
        if (waited >= waitMs || (stop && stop())) {
            Release();
            return LockResult::busy;
        }
    }
}

void ConverterLock::Release()
{
    if (held)
        Sys().ReleaseMutex(mutex);
    held = false;
    if (mutex)
        Sys().CloseMutex(mutex);
    mutex = nullptr;
}
