#include "protocol/report_transfer.h"

#include "device/device_syscalls.h"

TransferEvent::TransferEvent() : event(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

TransferEvent::~TransferEvent()
{
    // Not a device handle: the event belongs to this process alone.
    if (event)
        CloseHandle(event);
}

namespace {

// Waits for a started transfer. On expiry the transfer is cancelled, and
// the cancel is awaited: until it completes, the driver may still write
// into the caller's buffer and OVERLAPPED.
bool Complete(HANDLE device, OVERLAPPED &overlapped, BOOL finishedAtOnce)
{
    if (!finishedAtOnce) {
        if (GetLastError() != ERROR_IO_PENDING)
            return false;
        if (Sys().WaitForSingleObject(overlapped.hEvent, reportTimeoutMs) != WAIT_OBJECT_0)
            Sys().CancelIoEx(device, &overlapped);
    }
    DWORD count = 0;
    return Sys().GetOverlappedResult(device, &overlapped, &count, TRUE) && count != 0;
}

} // namespace

bool SendReport(HANDLE writeHandle, const uint8_t *buffer, DWORD length, const TransferEvent &event)
{
    if (!event.Handle() || writeHandle == INVALID_HANDLE_VALUE)
        return false;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Handle();
    ResetEvent(event.Handle());
    DWORD ignored = 0;  // the count is taken from the completed OVERLAPPED
    BOOL done = Sys().WriteFile(writeHandle, buffer, length, &ignored, &overlapped);
    return Complete(writeHandle, overlapped, done);
}

bool ReceiveReport(HANDLE readHandle, uint8_t *buffer, DWORD length, const TransferEvent &event)
{
    if (!event.Handle() || readHandle == INVALID_HANDLE_VALUE)
        return false;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Handle();
    ResetEvent(event.Handle());
    DWORD ignored = 0;  // the count is taken from the completed OVERLAPPED
    BOOL done = Sys().ReadFile(readHandle, buffer, length, &ignored, &overlapped);
    return Complete(readHandle, overlapped, done);
}

int DiscardQueuedReports(HANDLE readHandle, DWORD length, const TransferEvent &event, DWORD waitMs)
{
    // Never more than a HID queue holds, so a device that floods the
    // handle cannot keep the caller here.
    constexpr int mostQueued = 64;
    if (!event.Handle() || readHandle == INVALID_HANDLE_VALUE)
        return 0;
    uint8_t scratch[256];
    if (length > sizeof scratch)
        length = sizeof scratch;
    int discarded = 0;
    for (; discarded < mostQueued; ++discarded) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event.Handle();
        ResetEvent(event.Handle());
        DWORD count = 0;
        BOOL done = Sys().ReadFile(readHandle, scratch, length, &count, &overlapped);
        if (!done) {
            if (GetLastError() != ERROR_IO_PENDING)
                break;
            if (Sys().WaitForSingleObject(overlapped.hEvent, waitMs) != WAIT_OBJECT_0)
                Sys().CancelIoEx(readHandle, &overlapped);
        }
        // A report that came just as the read was cancelled still counts.
        if (!Sys().GetOverlappedResult(readHandle, &overlapped, &count, TRUE) || count == 0)
            break;
    }
    return discarded;
}
