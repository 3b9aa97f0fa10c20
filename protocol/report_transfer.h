// One HID report to or from the converter, never waiting for ever: the
// transfer is overlapped, its completion is awaited for at most
// reportTimeoutMs, and an expired transfer is cancelled and its cancel
// awaited before the caller may touch the buffer again.
#pragma once

#include <windows.h>

#include <cstdint>

// A USB HID converter answers a read request within a few milliseconds;
// half a second is far beyond any live device and short enough that ten
// attempts against a silent one end in seconds, not minutes.
constexpr DWORD reportTimeoutMs = 500;

// How long a retried register call waits for a reply left over from the
// attempt before it: such a reply is queued right behind the one the
// attempt took.
constexpr DWORD leftOverReplyWaitMs = 50;

// A manual-reset event owned by one register call, used by each of its
// transfers in turn.
class TransferEvent {
public:
    TransferEvent();
    ~TransferEvent();
    TransferEvent(const TransferEvent &) = delete;
    TransferEvent &operator=(const TransferEvent &) = delete;
    HANDLE Handle() const { return event; }

private:
    HANDLE event;
};

// True when the report went out (or came in) with a non-zero byte count.
bool SendReport(HANDLE writeHandle, const uint8_t *buffer, DWORD length, const TransferEvent &event);
bool ReceiveReport(HANDLE readHandle, uint8_t *buffer, DWORD length, const TransferEvent &event);

// Reads and throws away the input reports queued on the read handle, each
// awaited for at most waitMs (0: only those already there), and returns
// how many there were. HidD_FlushQueue does this on Windows, but it can
// fail and flush nothing (it does on Wine); this works on every stack.
int DiscardQueuedReports(HANDLE readHandle, DWORD length, const TransferEvent &event, DWORD waitMs);
