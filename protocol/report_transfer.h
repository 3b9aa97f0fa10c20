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

// Reads and drops every report already queued on the read handle, waiting
// for none: a read that does not complete at once is cancelled, and the
// cancel awaited. For where HidD_FlushQueue fails (Wine 8.0 answers it
// with error 50 and flushes nothing). At most 64 reports, far more than a
// HID queue holds, so a device that keeps sending cannot hold the caller.
void DiscardQueuedReports(HANDLE readHandle, DWORD length, const TransferEvent &event);
