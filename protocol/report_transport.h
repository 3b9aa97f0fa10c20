// The converter as the register protocol sees it: a channel of fixed-length
// HID reports, each with the report-ID byte (0) first and the 8 payload
// bytes after it, both ways, as Windows frames them. Each system binds it
// to its own calls (Win32 overlapped transfers, hidraw, WebHID); every call
// is synchronous and bounded in time. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

// What the last register call that failed on a port met, for the caller's
// own report: its (low) address, the stage of its last attempt, and whether
// it ended because the port could not be reopened between attempts.
struct RegisterFailure {
    int address = -1;
    int stage = 0;
    bool reopenFailed = false;
};

// Where the register protocol's messages go ("Read Failed; ERR[a-s]", a
// transport's "USB open read failed"...): the caller's choice.
using ProtocolMessageSink = void (*)(const char *text);

class ReportTransport {
public:
    virtual ~ReportTransport() = default;

    // Opens the converter found last; false (and a message) when it cannot.
    virtual bool Open() = 0;
    // Closes what is open; nothing when it is closed already.
    virtual void Close() = 0;
    // The length of every report, report-ID byte included.
    virtual size_t ReportLength() const = 0;
    // True when the report went out within reportTimeoutMs.
    virtual bool Send(const uint8_t *report, size_t length) = 0;
    // True when a whole report (`length` bytes) came within waitMs; it
    // fills `report` from byte 0, the report-ID byte. A shorter one is a
    // failed receive: the rest of the buffer would be an earlier reply's.
    virtual bool Receive(uint8_t *report, size_t length, unsigned waitMs) = 0;
    // Reads and throws away the reports queued for this port, each awaited
    // for at most waitMs (0: only those already there); returns how many.
    virtual int DiscardQueued(unsigned waitMs) = 0;
    // Empties the queue before a retried attempt, the system's own way
    // where it has one.
    virtual void EmptyQueue() { DiscardQueued(0); }
    // The protocol's pauses.
    virtual void Pause(unsigned ms) = 0;

    // Filled by the register call that failed last.
    RegisterFailure failure;
    // Null: messages are dropped.
    ProtocolMessageSink messages = nullptr;
};

// A USB HID converter answers a read request within a few milliseconds;
// half a second is far beyond any live device and short enough that ten
// attempts against a silent one end in seconds, not minutes.
constexpr unsigned reportTimeoutMs = 500;

// The longest a converter takes to answer a read request, on the busiest
// USB bus: a reply that has not come by then never comes. One that comes
// after its receive stopped waiting (reportTimeoutMs) is a stray reply,
// which a later receive would take for its own.
constexpr unsigned longestReplyMs = 3000;
