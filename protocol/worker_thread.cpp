// The one worker thread that runs a device operation while the dialog stays
// responsive, and the busy flag that keeps operations one at a time.
#include "protocol/device_operations.h"

#include "app/controls.h"
#include "protocol/operation_cut_off.h"

#include <process.h>

std::atomic<HANDLE> workerHandle{nullptr};

namespace {

// The last worker started, kept for closing its handle exactly once: the
// dialog thread closes it before it starts the next worker (the old one has
// cleared workerHandle, so nothing waits on it), EndWorkerBeforeExit closes
// the last one.
HANDLE startedWorker = nullptr;

// Long enough for a register exchange on the wire to finish against a
// silent converter (a few bounded transfers and a reopening pause).
constexpr DWORD exitWaitMs = 5000;

void StartWorker(unsigned(__stdcall *procedure)(void *), void *argument)
{
    if (workerHandle)
        return;
    if (startedWorker) {
        CloseHandle(startedWorker);
        startedWorker = nullptr;
    }
    ClearOperationCutOff();
    // Suspended until its handle is stored: the busy flag is set before the
    // worker can possibly clear it.
    uintptr_t thread = _beginthreadex(nullptr, 0, procedure, argument, CREATE_SUSPENDED, nullptr);
    if (!thread)
        return;  // stays idle
    startedWorker = reinterpret_cast<HANDLE>(thread);
    workerHandle = startedWorker;
    if (ResumeThread(startedWorker) == static_cast<DWORD>(-1)) {
        // It never ran a line: nothing to clean up behind it.
        TerminateThread(startedWorker, 0);
        CloseHandle(startedWorker);
        startedWorker = nullptr;
        workerHandle = nullptr;
    }
}

// Waits for the thread while still answering messages sent to this thread:
// a worker's last status or refresh call must not wait on us while we wait
// on it.
bool WaitServingSentMessages(HANDLE thread, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return false;
        DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, timeoutMs - elapsed, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0)
            return true;
        if (woke != WAIT_OBJECT_0 + 1)
            return false;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

void OnReadDeviceButton() { StartWorker(ReadThreadProc, nullptr); }

void OnWriteDeviceButton() { StartWorker(WriteThreadProc, nullptr); }

void StartFormatWorker() { StartWorker(WriteThreadProc, reinterpret_cast<void *>(1)); }

// Each operation holds the converter lock from before its device search
// until after its last close. When another ZYR program holds it, only the
// status line changes: the image, the controls and the converter stay as
// they were.
unsigned __stdcall ReadThreadProc(void *)
{
    ConverterLock lock;
    if (TakeConverterForDialog(lock)) {
        bool read = ReadDevice();
        lock.Release();
        RefreshControls(read ? RefreshImage : RefreshNoData);
    }
    workerHandle = nullptr;
    return 1;
}

unsigned __stdcall WriteThreadProc(void *argument)
{
    ConverterLock lock;
    if (TakeConverterForDialog(lock)) {
        if (argument)
            FormatDevice();
        else
            WriteDevice();
        lock.Release();
        RefreshControls(RefreshAfterWrite);
    }
    workerHandle = nullptr;
    return 1;
}

void EndWorkerBeforeExit()
{
    if (!startedWorker)
        return;
    RequestOperationCutOff();
    WaitServingSentMessages(startedWorker, exitWaitMs);
    CloseHandle(startedWorker);
    startedWorker = nullptr;
}
