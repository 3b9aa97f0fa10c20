// The register protocol: each call exchanges 9-byte reports with the
// converter, verifies what it wrote by reading it back, and retries a failed
// exchange on freshly opened handles before it reports the failure.
#include "protocol/device_port.h"

#include "device/device_syscalls.h"
#include "device/hid_com.h"
#include "protocol/operation_cut_off.h"
#include "protocol/operation_messages.h"
#include "protocol/report_transfer.h"

namespace {

constexpr int attemptsPerCall = 10;
constexpr DWORD pauseAfterWriteRequestMs = 5;
constexpr DWORD pauseAroundReopenMs = 100;

constexpr uint8_t commandWriteRegister = 1;
constexpr uint8_t commandReadRegister = 2;

enum CallKind { readCall, writeCall };

// Every transfer moves as many bytes as the match criteria's input report
// length says, read afresh each time.
DWORD ReportLength() { return hidDevice.match.inputReportLength; }

uint8_t Next(uint8_t address) { return static_cast<uint8_t>(address + 1); }

// One register call: its report buffer, its transfer event and the retry
// frame around its attempts. The buffer is cleared once, when the call
// begins; a request sets bytes 1 to 3 only, so its other bytes carry what
// the last reply left there. It holds the longest report an 8-bit length
// can ask for, so no match criteria can make a transfer run past it.
class RegisterCall {
public:
    RegisterCall(DevicePort &port, CallKind kind, uint8_t address) : port(port), kind(kind), address(address) {}

    bool Send(uint8_t command, uint8_t target, uint8_t value)
    {
        report[1] = command;
        report[2] = target;
        report[3] = value;
        return SendReport(port.writeHandle, report, ReportLength(), event);
    }

    // A read request and its reply; `value` is set only when both went through.
    int ReadExchange(uint8_t target, int sendStage, int receiveStage, uint8_t &value)
    {
        if (!Send(commandReadRegister, target, 0))
            return sendStage;
        if (!ReceiveReport(port.readHandle, report, ReportLength(), event))
            return receiveStage;
        value = report[3];
        return 0;
    }

    // A write request, then the pause the converter needs to store it.
    int WriteRequest(uint8_t target, uint8_t value, int sendStage)
    {
        if (!Send(commandWriteRegister, target, value))
            return sendStage;
        Sys().Sleep(pauseAfterWriteRequestMs);
        return 0;
    }

    // Runs `attempt` (which returns 0 on success or the failing stage) up to
    // ten times, closing and reopening the port between attempts. The stage
    // reported is the last attempt's. A cut-off ends the retries early,
    // reported like a last failed attempt.
    //
    // A reply can come after its receive stopped waiting, up to
    // longestReplyMs after its request, and a later receive would take it
    // for its own: then that attempt's own replies come one request late,
    // and so on. Replies carry nothing the host may match to a request, so
    // the call never returns with a request of its own unanswered: once an
    // attempt has failed, a success is only taken from an attempt made when
    // no earlier request could still be answered. The call waits that out
    // and makes the attempt once more; a failed call waits it out before it
    // returns. A call whose first attempt succeeds waits for nothing.
    // `lastReceiveStage` is the stage reported when the wait is cut off.
    template <class Attempt> bool Run(int lastReceiveStage, Attempt attempt)
    {
        bool repliesOutstanding = false;  // a request of this call may still be answered
        int stage = attempt();
        for (int made = 1;; ++made) {
            if (stage == 0 && repliesOutstanding) {
                // The replies taken may answer earlier requests: only an
                // attempt made on a quiet line counts.
                if (WaitOutReplies(port.readHandle, ReportLength(), event, OperationCutOff)) {
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
                    OperationMessage("Write Failed; ERR[%d-%d]", address, stage);
                else
                    OperationMessage("Read Failed; ERR[%d-%d]", address, stage);
                port.failure = {address, stage, false};
                // Nothing this call asked may reach the next call, nor the
                // next operation's port; a program that closes does not wait.
                if (!OperationCutOff())
                    WaitOutReplies(port.readHandle, ReportLength(), event, OperationCutOff);
                return false;
            }
            CloseDevicePort(port);
            Sys().Sleep(pauseAroundReopenMs);
            if (!OpenDevicePort(port)) {
                port.failure = {address, stage, true};
                return false;  // the port's own message stays on the status line
            }
            Sys().Sleep(pauseAroundReopenMs);
            // Each retried attempt starts with nothing queued on the read
            // handle. The flush can fail and leave the queue as it was (it
            // does on Wine), so what is still there is read away as well.
            if (!hidDevice.library.FlushQueue(port.readHandle))
                DiscardQueuedReports(port.readHandle, ReportLength(), event, 0);
            if (OperationCutOff())
                continue;  // reported at the top, as the last attempt
            stage = attempt();
        }
    }

private:
    DevicePort &port;
    CallKind kind;
    int address;  // the call's (low) address, for the failure message
    TransferEvent event;
    uint8_t report[256] = {};
};

HANDLE OpenPath(const char *path, DWORD access)
{
    if (!path)
        return INVALID_HANDLE_VALUE;
    HANDLE handle = Sys().CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    return handle ? handle : INVALID_HANDLE_VALUE;
}

}  // namespace

bool OpenDevicePort(DevicePort &port)
{
    CloseDevicePort(port);  // never lose handles that are still open
    port.readHandle = OpenPath(hidDevice.devicePath, GENERIC_READ);
    if (port.readHandle == INVALID_HANDLE_VALUE) {
        OperationMessage("USB open read failed");
        return false;
    }
    port.writeHandle = OpenPath(hidDevice.devicePath, GENERIC_WRITE);
    if (port.writeHandle == INVALID_HANDLE_VALUE) {
        Sys().CloseHandle(port.readHandle);
        port.readHandle = INVALID_HANDLE_VALUE;
        OperationMessage("USB open write failed");
        return false;
    }
    return true;
}

DevicePort::~DevicePort() { CloseDevicePort(*this); }

void CloseDevicePort(DevicePort &port)
{
    if (port.writeHandle != INVALID_HANDLE_VALUE) {
        Sys().CloseHandle(port.writeHandle);
        port.writeHandle = INVALID_HANDLE_VALUE;
    }
    if (port.readHandle != INVALID_HANDLE_VALUE) {
        Sys().CloseHandle(port.readHandle);
        port.readHandle = INVALID_HANDLE_VALUE;
    }
}

bool ReadRegister(DevicePort &port, uint8_t address, uint8_t &value)
{
    RegisterCall call(port, readCall, address);
    uint8_t read = 0;
    if (!call.Run(2, [&] { return call.ReadExchange(address, 1, 2, read); }))
        return false;
    value = read;
    return true;
}

bool ReadRegisterWord(DevicePort &port, uint8_t address, uint16_t &value)
{
    RegisterCall call(port, readCall, address);
    uint8_t low = 0, high = 0;
    bool ok = call.Run(4, [&] {
        if (int stage = call.ReadExchange(address, 1, 2, low))
            return stage;
        return call.ReadExchange(Next(address), 3, 4, high);
    });
    if (!ok)
        return false;
    value = static_cast<uint16_t>(low | high << 8);
    return true;
}

bool WriteRegister(DevicePort &port, uint8_t address, uint8_t value)
{
    RegisterCall call(port, writeCall, address);
    return call.Run(4, [&] {
        if (int stage = call.WriteRequest(address, value, 1))
            return stage;
        uint8_t readBack = 0;
        if (int stage = call.ReadExchange(address, 3, 4, readBack))
            return stage;
        return readBack == value ? 0 : 5;
    });
}

bool WriteRegisterWord(DevicePort &port, uint8_t address, uint16_t value)
{
    const uint8_t low = static_cast<uint8_t>(value & 0xFF);
    const uint8_t high = static_cast<uint8_t>(value >> 8);
    RegisterCall call(port, writeCall, address);
    return call.Run(7, [&] {
        if (int stage = call.WriteRequest(address, low, 1))
            return stage;
        if (int stage = call.WriteRequest(Next(address), high, 2))
            return stage;
        uint8_t readBack = 0;
        if (int stage = call.ReadExchange(address, 3, 4, readBack))
            return stage;
        if (readBack != low)
            return 5;
        if (int stage = call.ReadExchange(Next(address), 6, 7, readBack))
            return stage;
        return readBack == high ? 0 : 8;
    });
}
