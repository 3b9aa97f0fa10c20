// One HID report to or from the converter, never waiting for ever: the
// transfer is overlapped, its completion is awaited for at most
// reportTimeoutMs, and an expired transfer is cancelled and its cancel
// awaited before the caller may touch the buffer again.
#pragma once

#include "base/no_copy.h"
#include "protocol/report_transport.h"

#include <windows.h>

#include <cstdint>

// A manual-reset event owned by one port, used by each of its transfers in
// turn.
class TransferEvent : private NoCopy {
public:
    TransferEvent();
    ~TransferEvent();
    HANDLE Handle() const { return event; }

private:
    HANDLE event;
};

// True when the report went out with a non-zero byte count, or came in
// whole: a shorter reply would leave bytes of an earlier one in the buffer.
bool SendReport(HANDLE writeHandle, const uint8_t *buffer, DWORD length, const TransferEvent &event);
bool ReceiveReport(HANDLE readHandle, uint8_t *buffer, DWORD length, const TransferEvent &event,
                   DWORD waitMs = reportTimeoutMs);

// Reads and throws away the input reports queued on the read handle, each
// awaited for at most waitMs (0: only those already there), and returns
// how many there were. HidD_FlushQueue does this on Windows, but it can
// fail and flush nothing (it does on Wine); this works on every stack.
int DiscardQueuedReports(HANDLE readHandle, DWORD length, const TransferEvent &event, DWORD waitMs);
