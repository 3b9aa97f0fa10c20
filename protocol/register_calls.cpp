// The register protocol: each call exchanges 9-byte reports with the
// converter, verifies what it wrote by reading it back, and retries a failed
// exchange on a freshly opened port before it reports the failure.
#include "protocol/register_calls.h"

#include "protocol/converter_identity.h"
#include "protocol/operation_cut_off.h"
#include "protocol/register_stages.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr int attemptsPerCall = 10;
constexpr unsigned pauseAfterWriteRequestMs = 5;
constexpr unsigned pauseAroundReopenMs = 100;

enum CallKind { readCall, writeCall };

uint8_t Next(uint8_t address) { return static_cast<uint8_t>(address + 1); }

void Say(const ReportTransport &port, const char *format, ...) __attribute__((format(printf, 2, 3)));
void Say(const ReportTransport &port, const char *format, ...)
{
    if (!port.messages)
        return;
    char text[260] = {};
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    port.messages(text);
}

// One register call: its report buffer and the retry frame around its
// attempts. The buffer is cleared once, when the call begins; a request
// sets bytes 1 to 3 only, so its other bytes carry what the last reply left
// there. It holds the longest report an 8-bit length can ask for, so no
// transport can make a transfer run past it.
class RegisterCall {
public:
    RegisterCall(ReportTransport &port, CallKind kind, uint8_t address) : port(port), kind(kind), address(address) {}

    // Every transfer moves as many bytes as the transport says, asked afresh
    // each time.
    size_t ReportLength() const
    {
        const size_t length = port.ReportLength();
        return length < sizeof report ? length : sizeof report;
    }

    bool Send(uint8_t command, uint8_t target, uint8_t value)
    {
        report[1] = command;
        report[2] = target;
        report[3] = value;
        return port.Send(report, ReportLength());
    }

    // A read request and its reply; `value` is set only when both went through.
    int ReadExchange(uint8_t target, int sendStage, int receiveStage, uint8_t &value)
    {
        if (!Send(commandReadRegister, target, 0))
            return sendStage;
        if (!port.Receive(report, ReportLength(), reportTimeoutMs))
            return receiveStage;
        value = report[3];
        return 0;
    }

    // A read-back of a register just written: 0 when it holds `expected`,
    // else the stage that failed (`differsStage`: it holds another value).
    int ReadBack(uint8_t target, uint8_t expected, int sendStage, int receiveStage, int differsStage)
    {
        uint8_t value = 0;
        if (int stage = ReadExchange(target, sendStage, receiveStage, value))
            return stage;
        return value == expected ? 0 : differsStage;
    }

    // A write request, then the pause the converter needs to store it.
    int WriteRequest(uint8_t target, uint8_t value, int sendStage)
    {
        if (!Send(commandWriteRegister, target, value))
            return sendStage;
        port.Pause(pauseAfterWriteRequestMs);
        return 0;
    }

    // Runs `attempt` (which returns 0 on success or the failing stage) up to
    // ten times, closing and reopening the port between attempts. The stage
    // reported is the last attempt's. A cut-off ends the retries early,
    // reported like a last failed attempt.
    //
    // A reply can come after its receive stopped waiting, up to
    // longestReplyMs after its request, and a later receive would take it
    // for its own: that attempt's own replies then come one request late,
    // and so on. Nothing in a reply names its request, so a call never
    // returns with a request of its own unanswered: once an attempt has
    // failed, a success counts only from an attempt made when no earlier
    // request could still be answered. The call waits that out and makes
    // the attempt once more; a call that fails waits it out before it
    // returns. A call whose first attempt succeeds waits for nothing.
    // `lastReceiveStage` is the stage reported when that wait is cut off.
    template <class Attempt> bool Run(int lastReceiveStage, Attempt attempt)
    {
        bool repliesOutstanding = false;  // a request of this call may still be answered
        int stage = attempt();
        for (int made = 1;; ++made) {
            if (stage == 0 && repliesOutstanding) {
                // The replies taken may answer earlier requests: only an
                // attempt made on a quiet line counts.
                if (WaitOutReplies()) {
                    repliesOutstanding = false;
                    stage = attempt();
                } else {
                    stage = lastReceiveStage;
                }
            }
            if (stage == 0)
                return true;
            repliesOutstanding = true;
            if (made == attemptsPerCall || OperationCutOff()) {
                if (kind == writeCall)
                    Say(port, "Write Failed; ERR[%d-%d]", address, stage);
                else
                    Say(port, "Read Failed; ERR[%d-%d]", address, stage);
                port.failure = {address, stage, false};
                // Nothing this call asked may reach the next call, nor the
                // next operation's port; a program that closes does not wait.
                if (!OperationCutOff())
                    WaitOutReplies();
                return false;
            }
            port.Close();
            port.Pause(pauseAroundReopenMs);
            if (!port.Open()) {
                port.failure = {address, stage, true};
                return false;  // the port's own message stays on the status line
            }
            port.Pause(pauseAroundReopenMs);
            // Each retried attempt starts with nothing queued for the port.
            port.EmptyQueue();
            if (OperationCutOff())
                continue;  // reported at the top, as the last attempt
            stage = attempt();
        }
    }

    // Reads away every report until none has come for longestReplyMs, so
    // that no request sent before can still be answered. False when cut off
    // (asked between waits of a tenth of a second), or when reports keep
    // coming: a converter answers each request once, and more than a HID
    // queue holds is no converter's answer.
    bool WaitOutReplies()
    {
        constexpr unsigned sliceMs = 100;  // each wait that ends empty lasts at least this
        constexpr int quietSlices = (longestReplyMs + sliceMs - 1) / sliceMs;
        constexpr int mostReplies = 64;
        int quiet = 0, replies = 0;
        while (quiet < quietSlices) {
            if (OperationCutOff())
                return false;
            if (port.DiscardQueued(sliceMs) == 0) {
                ++quiet;
                continue;
            }
            quiet = 0;
            if (++replies > mostReplies)
                return false;
        }
        return true;
    }

private:
    ReportTransport &port;
    CallKind kind;
    int address;  // the call's (low) address, for the failure message
    uint8_t report[256] = {};
};

}  // namespace

bool ReadRegister(ReportTransport &port, uint8_t address, uint8_t &value)
{
    RegisterCall call(port, readCall, address);
    uint8_t read = 0;
    if (!call.Run(stage::readReply,
                  [&] { return call.ReadExchange(address, stage::readRequest, stage::readReply, read); }))
        return false;
    value = read;
    return true;
}

bool ReadRegisterWord(ReportTransport &port, uint8_t address, uint16_t &value)
{
    RegisterCall call(port, readCall, address);
    uint8_t low = 0, high = 0;
    bool ok = call.Run(stage::highReadReply, [&] {
        if (int stage = call.ReadExchange(address, stage::lowReadRequest, stage::lowReadReply, low))
            return stage;
        return call.ReadExchange(Next(address), stage::highReadRequest, stage::highReadReply, high);
    });
    if (!ok)
        return false;
    value = static_cast<uint16_t>(low | high << 8);
    return true;
}

bool WriteRegister(ReportTransport &port, uint8_t address, uint8_t value)
{
    RegisterCall call(port, writeCall, address);
    return call.Run(stage::readBackReply, [&] {
        if (int stage = call.WriteRequest(address, value, stage::writeRequest))
            return stage;
        return call.ReadBack(address, value, stage::readBackRequest, stage::readBackReply, stage::readBackDiffers);
    });
}

bool WriteRegisterWord(ReportTransport &port, uint8_t address, uint16_t value)
{
    const uint8_t low = static_cast<uint8_t>(value & 0xFF);
    const uint8_t high = static_cast<uint8_t>(value >> 8);
    RegisterCall call(port, writeCall, address);
    return call.Run(stage::highReadBackReply, [&] {
        if (int stage = call.WriteRequest(address, low, stage::lowWriteRequest))
            return stage;
        if (int stage = call.WriteRequest(Next(address), high, stage::highWriteRequest))
            return stage;
        if (int stage = call.ReadBack(address, low, stage::lowReadBackRequest, stage::lowReadBackReply,
                                      stage::lowReadBackDiffers))
            return stage;
        return call.ReadBack(Next(address), high, stage::highReadBackRequest, stage::highReadBackReply,
                             stage::highReadBackDiffers);
    });
}
