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

// One overlapped transfer on `device`: `start` issues the ReadFile or
// WriteFile with the OVERLAPPED it is given, and the completion is awaited
// for at most waitMs. On expiry the transfer is cancelled, and the cancel is
// awaited: until it completes, the driver may still write into the caller's
// buffer and OVERLAPPED. True when it moved a non-zero byte count, also
// when the report came just as the transfer was cancelled.
template <class Start>
bool Transfer(HANDLE device, const TransferEvent &event, DWORD waitMs, DWORD fewestBytes, Start start)
{
    if (!event.Handle() || device == INVALID_HANDLE_VALUE)
        return false;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Handle();
    ResetEvent(event.Handle());
    DWORD ignored = 0;  // the count is taken from the completed OVERLAPPED
    if (!start(&ignored, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING)
            return false;
        if (Sys().WaitForSingleObject(overlapped.hEvent, waitMs) != WAIT_OBJECT_0)
            Sys().CancelIoEx(device, &overlapped);
    }
    DWORD count = 0;
    return Sys().GetOverlappedResult(device, &overlapped, &count, TRUE) && count != 0 && count >= fewestBytes;
}

}  // namespace

bool SendReport(HANDLE writeHandle, const uint8_t *buffer, DWORD length, const TransferEvent &event)
{
    return Transfer(writeHandle, event, reportTimeoutMs, 1, [&](DWORD *ignored, OVERLAPPED *overlapped) {
        return Sys().WriteFile(writeHandle, buffer, length, ignored, overlapped);
    });
}

bool ReceiveReport(HANDLE readHandle, uint8_t *buffer, DWORD length, const TransferEvent &event, DWORD waitMs)
{
    return Transfer(readHandle, event, waitMs, length, [&](DWORD *ignored, OVERLAPPED *overlapped) {
        return Sys().ReadFile(readHandle, buffer, length, ignored, overlapped);
    });
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
    const auto readOne = [&](DWORD *ignored, OVERLAPPED *overlapped) {
        return Sys().ReadFile(readHandle, scratch, length, ignored, overlapped);
    };
    int discarded = 0;
    while (discarded < mostQueued && Transfer(readHandle, event, waitMs, 1, readOne))
        ++discarded;
    return discarded;
}
