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

// The longest a converter takes to answer a read request, on the busiest
// USB bus: a reply that has not come by then never comes. A reply that
// comes after its receive stopped waiting (reportTimeoutMs) is a stray
// reply, which a later receive would take for its own.
constexpr DWORD longestReplyMs = 3000;

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

// True when the report went out with a non-zero byte count, or came in
// whole: a shorter reply leaves bytes of an earlier one in the buffer.
bool SendReport(HANDLE writeHandle, const uint8_t *buffer, DWORD length, const TransferEvent &event);
bool ReceiveReport(HANDLE readHandle, uint8_t *buffer, DWORD length, const TransferEvent &event);

// Reads and throws away the input reports queued on the read handle, each
// awaited for at most waitMs (0: only those already there), and returns
// how many there were. HidD_FlushQueue does this on Windows, but it can
// fail and flush nothing (it does on Wine); this works on every stack.
int DiscardQueuedReports(HANDLE readHandle, DWORD length, const TransferEvent &event, DWORD waitMs);

// Reads away every input report until none has come for longestReplyMs,
// so that no request sent before it can still be answered. True when the
// line fell quiet; false when `stop` returned true first (it is asked
// between waits of a tenth of a second) or reports kept coming.
bool WaitOutReplies(HANDLE readHandle, DWORD length, const TransferEvent &event, bool (*stop)());
