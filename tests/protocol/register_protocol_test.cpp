// The register calls against the simulated converter: the exchanges on the
// wire, every failure stage of every call, the retry frame with its
// reopenings and pauses, and the messages left on the status line.
#include "protocol/device_port.h"

#include "device/hid_com.h"
#include "protocol/report_transfer.h"
#include "tests/protocol/protocol_fixture.h"

#include <doctest.h>

#include <string>
#include <utility>
#include <vector>

using sim::FaultRule;

namespace {

enum class Call { readByte, readWord, writeByte, writeWord };
const Call allCalls[] = {Call::readByte, Call::readWord, Call::writeByte, Call::writeWord};

constexpr uint16_t sentinel = 0xA5A5;  // the out-value before a read; a failed read leaves it
constexpr uint16_t written = 0x3C5A;  // what a word write sends; a byte write sends its low byte

bool IsRead(Call call) { return call == Call::readByte || call == Call::readWord; }

uint16_t Untouched(Call call) { return call == Call::readByte ? sentinel & 0xFF : sentinel; }

struct CallResult {
    bool ok;
    uint16_t value;  // the out-value after the call (reads)
};

CallResult RunCall(Call call, DevicePort &port, uint8_t address)
{
    uint8_t byte = sentinel & 0xFF;
    uint16_t word = sentinel;
    switch (call) {
    case Call::readByte: {
        const bool ok = ReadRegister(port, address, byte);
        return {ok, byte};
    }
    case Call::readWord: {
        const bool ok = ReadRegisterWord(port, address, word);
        return {ok, word};
    }
    case Call::writeByte:
        return {WriteRegister(port, address, written & 0xFF), 0};
    case Call::writeWord:
        return {WriteRegisterWord(port, address, written), 0};
    }
    return {false, 0};
}

// What a call that succeeded leaves: the converter's value read, or the
// value written (and the next register untouched by a byte write).
void CheckSucceeded(Call call, const CallResult &result, const sim::SimDevice &converter,
                    const std::array<uint8_t, 256> &before, uint8_t address)
{
    const uint8_t next = static_cast<uint8_t>(address + 1);
    CHECK(result.ok);
    switch (call) {
    case Call::readByte:
        CHECK(result.value == before[address]);
        break;
    case Call::readWord:
        CHECK(result.value == (before[address] | before[next] << 8));
        break;
    case Call::writeByte:
        CHECK(converter.Register(address) == (written & 0xFF));
        CHECK(converter.Register(next) == before[next]);
        break;
    case Call::writeWord:
        CHECK(converter.Register(address) == (written & 0xFF));
        CHECK(converter.Register(next) == written >> 8);
        break;
    }
}

bool PortOpen(const DevicePort &port)
{
    return port.readHandle != INVALID_HANDLE_VALUE && port.writeHandle != INVALID_HANDLE_VALUE;
}

bool PortClosed(const DevicePort &port)
{
    return port.readHandle == INVALID_HANDLE_VALUE && port.writeHandle == INVALID_HANDLE_VALUE;
}

// One converter, found and opened, with the dialog recording the status line.
struct OpenConverter {
    DialogDriver &dialog;
    ConverterOnBus bench;
    sim::SimDevice &converter = bench.converter;
    const std::array<uint8_t, 256> before = converter.Registers();
    DevicePort port;
    int opensAfterFirst = 0;
    uint64_t startMs = 0;

    explicit OpenConverter(DialogDriver &dialog) : dialog(dialog)
    {
        dialog.ClearStatusHistory();
        REQUIRE(FindConverter());
        REQUIRE(OpenDevicePort(port));
        opensAfterFirst = bench.bus.OpenHandlesTotal();
        startMs = bench.bus.NowMs();
        bench.bus.ClearTraffic();
    }
    ~OpenConverter() { CloseDevicePort(port); }
    // Each reopening opens a read handle and a write handle.
    int Reopenings() const { return (bench.bus.OpenHandlesTotal() - opensAfterFirst) / 2; }
};

std::string FailureText(Call call, int address, int stage)
{
    return std::string(IsRead(call) ? " Read Failed; ERR[" : " Write Failed; ERR[") + std::to_string(address) + "-" +
           std::to_string(stage) + "]";
}

}  // namespace

TEST_CASE("each call on the wire: a request and a reply per byte read; a write adds its request and a 5 ms pause")
{
    struct Case {
        Call call;
        uint8_t address;
        std::vector<std::pair<int, int>> requests;  // command, address
        std::vector<DWORD> pauses;
    };
    const Case cases[] = {
        {Call::readByte, 100, {{2, 100}}, {}},
        {Call::writeByte, 100, {{1, 100}, {2, 100}}, {5}},
        // Words: low byte at the address, high byte at the next, wrapping from 255 to 0.
        {Call::readWord, 255, {{2, 255}, {2, 0}}, {}},
        {Call::writeWord, 255, {{1, 255}, {1, 0}, {2, 255}, {2, 0}}, {5, 5}},
    };
    DialogDriver dialog;
    // Transfers that the system finishes inside ReadFile or WriteFile count
    // like those that end pending and complete later.
    for (bool finishedAtOnce : {false, true}) {
        for (const Case &c : cases) {
            INFO("call ", static_cast<int>(c.call), finishedAtOnce ? ", finished at once" : ", pending");
            OpenConverter open(dialog);
            open.converter.completeReadsAtOnce = finishedAtOnce;
            open.converter.completeWritesAtOnce = finishedAtOnce;
            CheckSucceeded(c.call, RunCall(c.call, open.port, c.address), open.converter, open.before, c.address);
            const auto traffic = open.bench.bus.Traffic();
            std::vector<std::pair<int, int>> requests;
            for (const auto &t : traffic) {
                if (t.toDevice)
                    requests.emplace_back(t.bytes[1], t.bytes[2]);
                if (t.toDevice && t.bytes[1] == 2 && c.call != Call::readWord)
                    CHECK(t.bytes[3] == 0);
            }
            CHECK(requests == c.requests);
            // A reply is read after each read request, none after a write request.
            CHECK(traffic.size() == c.requests.size() + ReadRequestsOnWire(traffic));
            // The call's buffer starts cleared: the first request carries nothing else.
            const uint8_t value = IsRead(c.call) ? 0 : written & 0xFF;
            CHECK(traffic[0].bytes ==
                  sim::Report{0, static_cast<uint8_t>(c.requests[0].first), c.address, value, 0, 0, 0, 0, 0});
            if (c.call == Call::readWord) {
                // ... once per call: the second request carries the report-ID
                // byte and bytes 4 to 8 that the first reply left behind.
                CHECK(traffic[2].bytes[0] == traffic[1].bytes[0]);
                for (int i = 4; i < 9; ++i)
                    CHECK(traffic[2].bytes[i] == traffic[1].bytes[i]);
            }
            CHECK(open.bench.bus.Sleeps() == c.pauses);
            CHECK(dialog.StatusHistory().empty());
            CHECK(open.Reopenings() == 0);
        }
    }
}

TEST_CASE("every stage of every register call fails ten times, then names address and stage")
{
    struct StageCase {
        Call call;
        FaultRule::Kind kind;
        int command;
        int address;  // of the faulty exchange
        uint8_t callAt;  // the call's (low) address
        int stage;  // of the tenth attempt, the one the message names
        std::vector<FaultRule> firstNine = {};  // failing the first nine attempts at another stage
    };
    const uint8_t a = 100;
    const StageCase cases[] = {
        {Call::readByte, FaultRule::SendFails, 2, a, a, 1},
        {Call::readByte, FaultRule::SendZero, 2, a, a, 1},
        {Call::readByte, FaultRule::ReceiveFails, 2, a, a, 2},
        {Call::readByte, FaultRule::ReceiveZero, 2, a, a, 2},
        {Call::readByte, FaultRule::NoReply, 2, a, a, 2},
        {Call::readWord, FaultRule::SendFails, 2, a, a, 1},
        {Call::readWord, FaultRule::ReceiveFails, 2, a, a, 2},
        {Call::readWord, FaultRule::SendZero, 2, a + 1, a, 3},
        {Call::readWord, FaultRule::NoReply, 2, a + 1, a, 4},
        {Call::readWord, FaultRule::ReceiveZero, 2, a + 1, a, 4},
        {Call::readWord, FaultRule::ReceiveFails, 2, 0, 255, 4},
        {Call::writeByte, FaultRule::SendFails, 1, a, a, 1},
        {Call::writeByte, FaultRule::SendZero, 1, a, a, 1},
        {Call::writeByte, FaultRule::SendFails, 2, a, a, 3},
        {Call::writeByte, FaultRule::ReceiveFails, 2, a, a, 4},
        {Call::writeByte, FaultRule::ReceiveZero, 2, a, a, 4},
        {Call::writeByte, FaultRule::NoReply, 2, a, a, 4},
        {Call::writeByte, FaultRule::WrongReadBack, 2, a, a, 5},
        {Call::writeByte, FaultRule::WrongReadBack, 2, 255, 255, 5},
        {Call::writeWord, FaultRule::SendFails, 1, a, a, 1},
        {Call::writeWord, FaultRule::SendZero, 1, a + 1, a, 2},
        {Call::writeWord, FaultRule::SendFails, 2, a, a, 3},
        {Call::writeWord, FaultRule::ReceiveFails, 2, a, a, 4},
        {Call::writeWord, FaultRule::WrongReadBack, 2, a, a, 5},
        {Call::writeWord, FaultRule::SendZero, 2, a + 1, a, 6},
        {Call::writeWord, FaultRule::NoReply, 2, a + 1, a, 7},
        {Call::writeWord, FaultRule::WrongReadBack, 2, a + 1, a, 8},
        // Nine attempts fail at one stage, the last at another: the last one counts.
        {Call::readWord, FaultRule::NoReply, 2, a + 1, a, 4, {Fault(FaultRule::ReceiveFails, 2, a, 9)}},
        {Call::writeByte, FaultRule::WrongReadBack, 2, a, a, 5, {Fault(FaultRule::ReceiveFails, 2, a, 9)}},
    };
    DialogDriver dialog;
    for (const StageCase &c : cases) {
        INFO("call ", static_cast<int>(c.call), ", fault ", static_cast<int>(c.kind), " at ", c.address);
        OpenConverter open(dialog);
        for (const FaultRule &earlier : c.firstNine)
            open.converter.AddFault(earlier);
        open.converter.AddFault(Fault(c.kind, c.command, c.address));
        const CallResult result = RunCall(c.call, open.port, c.callAt);

        CHECK_FALSE(result.ok);
        CHECK(dialog.StatusHistory() == Texts{FailureText(c.call, c.callAt, c.stage)});
        if (IsRead(c.call))
            CHECK(result.value == Untouched(c.call));
        // Ten attempts: nine close-pause-reopen-pause cycles in between, in
        // virtual time.
        CHECK(open.Reopenings() == 9);
        CHECK(PausesOf(open.bench.bus.Sleeps(), 100) == 18);
        CHECK(open.bench.bus.NowMs() - open.startMs >= 1800);
        CHECK(PortOpen(open.port));

        // Every attempt starts again from its first request.
        const auto traffic = open.bench.bus.Traffic();
        if (c.stage > 1)
            CHECK((IsRead(c.call) ? ReadRequestsOnWire(traffic, c.callAt) : WriteRequestsOnWire(traffic, c.callAt)) ==
                  10);
        if (c.call == Call::writeByte) {
            CHECK(open.converter.WritesTo(c.callAt) == (c.stage == 1 ? 0 : 10));
            CHECK(open.converter.Register(c.callAt) == (c.stage == 1 ? open.before[c.callAt] : written & 0xFF));
        }
        for (int r = 0; r < 256; ++r)
            if (r != c.callAt && r != static_cast<uint8_t>(c.callAt + 1))
                CHECK(open.converter.Register(r) == open.before[r]);

        CloseDevicePort(open.port);
        CHECK(open.bench.bus.OpenHandles() == 0);
    }
}

TEST_CASE("a call that recovers within its retries says nothing; a reopening that fails ends it with its own message")
{
    enum Trouble { failsNineTimes, unpluggedAndBack, readRefused, writeRefused, unpluggedForGood };
    const uint8_t at = 30;
    DialogDriver dialog;
    for (Call call : allCalls)
        for (Trouble trouble : {failsNineTimes, unpluggedAndBack, readRefused, writeRefused, unpluggedForGood}) {
            INFO("call ", static_cast<int>(call), ", trouble ", static_cast<int>(trouble));
            OpenConverter open(dialog);
            open.converter.failOpenRead = trouble == readRefused;
            open.converter.failOpenWrite = trouble == writeRefused;
            FaultRule fault = Fault(FaultRule::ReceiveFails, 2, at, 1);  // the first attempt fails
            if (trouble == failsNineTimes)  // the tenth attempt goes through
                fault = Fault(IsRead(call) ? FaultRule::ReceiveFails : FaultRule::WrongReadBack, 2, at, 9);
            if (trouble == unpluggedForGood || trouble == unpluggedAndBack)
                fault = Fault(FaultRule::Unplug, 0, at, 1);
            if (trouble == unpluggedAndBack)
                fault.replugAfterMs = 50;
            open.converter.AddFault(fault);

            const CallResult result = RunCall(call, open.port, at);
            if (trouble == failsNineTimes && !IsRead(call)) {
                // The call's buffer is cleared once, when it begins: the retried
                // attempt's write request carries the report-ID byte and bytes 4
                // to 8 that the first attempt's read-back reply left behind.
                const auto traffic = open.bench.bus.Traffic();
                size_t reply = 0;
                while (reply < traffic.size() && traffic[reply].toDevice)
                    ++reply;
                size_t retried = reply;
                while (retried < traffic.size() && !(traffic[retried].toDevice && traffic[retried].bytes[1] == 1))
                    ++retried;
                REQUIRE(retried < traffic.size());
                const sim::Report &left = traffic[reply].bytes;
                CHECK(sim::Report{left[4], left[5], left[6], left[7], left[8]} != sim::Report{});
                CHECK(traffic[retried].bytes[0] == left[0]);
                for (int i = 4; i < 9; ++i)
                    CHECK(traffic[retried].bytes[i] == left[i]);
            }
            if (trouble == failsNineTimes || trouble == unpluggedAndBack) {
                CheckSucceeded(call, result, open.converter, open.before, at);
                CHECK(dialog.StatusHistory().empty());
                CHECK(open.Reopenings() == (trouble == failsNineTimes ? 9 : 1));
                CHECK(PortOpen(open.port));
                continue;
            }
            CHECK_FALSE(result.ok);
            if (IsRead(call))
                CHECK(result.value == Untouched(call));
            CHECK(dialog.StatusHistory() ==
                  Texts{trouble == writeRefused ? " USB open write failed" : " USB open read failed"});
            CHECK(PortClosed(open.port));
            CHECK(open.bench.bus.OpenHandles() == 0);
            CHECK(PausesOf(open.bench.bus.Sleeps(), 100) == 1);  // only the one before the reopening
        }
}

namespace {
std::vector<DWORD> transferLengths;
DeviceSyscalls beforeLengths;
BOOL WINAPI RecordWriteLength(HANDLE h, LPCVOID b, DWORD n, LPDWORD c, LPOVERLAPPED o)
{
    transferLengths.push_back(n);
    return beforeLengths.WriteFile(h, b, n, c, o);
}
BOOL WINAPI RecordReadLength(HANDLE h, LPVOID b, DWORD n, LPDWORD c, LPOVERLAPPED o)
{
    transferLengths.push_back(n);
    return beforeLengths.ReadFile(h, b, n, c, o);
}
}  // namespace

TEST_CASE("every transfer asks for the report length of the match criteria, read afresh each time")
{
    DialogDriver dialog;
    OpenConverter open(dialog);
    beforeLengths = Sys();
    BoundaryOverride<decltype(DeviceSyscalls::WriteFile)> write(&DeviceSyscalls::WriteFile, RecordWriteLength);
    BoundaryOverride<decltype(DeviceSyscalls::ReadFile)> read(&DeviceSyscalls::ReadFile, RecordReadLength);
    transferLengths.clear();
    uint8_t value = 0;
    CHECK(ReadRegister(open.port, 9, value));
    CHECK(transferLengths == std::vector<DWORD>{9, 9});

    // The longest length the criteria can hold: the call's buffer takes it.
    // The converter's 9-byte reply is short of it, so the read-back fails.
    const uint8_t stored = hidDevice.match.inputReportLength;
    hidDevice.match.inputReportLength = 255;
    transferLengths.clear();
    CHECK_FALSE(WriteRegister(open.port, 9, 0x77));
    hidDevice.match.inputReportLength = stored;
    REQUIRE(transferLengths.size() >= 3);
    CHECK(std::vector<DWORD>(transferLengths.begin(), transferLengths.begin() + 3) ==
          std::vector<DWORD>{255, 255, 255});
    CHECK(open.converter.Register(9) == 0x77);
}

TEST_CASE("opening the port: both handles or none, and a message for each failure")
{
    DialogDriver dialog;
    ConverterOnBus bench;
    REQUIRE(FindConverter());
    DevicePort port;
    for (bool readRefused : {true, false}) {
        bench.converter.failOpenRead = readRefused;
        bench.converter.failOpenWrite = !readRefused;
        CHECK_FALSE(OpenDevicePort(port));
        CHECK(PortClosed(port));
        CHECK(bench.bus.OpenHandles() == 0);  // a read handle is closed again
    }
    CHECK(dialog.StatusHistory() == Texts{" USB open read failed", " USB open write failed"});

    bench.converter.failOpenWrite = false;
    REQUIRE(OpenDevicePort(port));
    CHECK(PortOpen(port));
    CHECK(bench.bus.OpenHandles() == 2);
    CloseDevicePort(port);
    CHECK(PortClosed(port));
    CloseDevicePort(port);  // a second close finds nothing to close
    CHECK(bench.bus.OpenHandles() == 0);
}

namespace {
// A log of the boundary calls a receive makes, to check the order of wait,
// cancel and completion.
std::vector<std::string> ioLog;
DeviceSyscalls recorded;

BOOL WINAPI LoggedReadFile(HANDLE h, LPVOID b, DWORD n, LPDWORD c, LPOVERLAPPED o)
{
    ioLog.push_back("read");
    return recorded.ReadFile(h, b, n, c, o);
}
DWORD WINAPI LoggedWait(HANDLE h, DWORD ms)
{
    ioLog.push_back(ms == INFINITE ? "wait-forever" : "wait-" + std::to_string(ms));
    // An unbounded wait on a silent converter would hang the test: it is
    // recorded, and cut short.
    DWORD result = recorded.WaitForSingleObject(h, ms == INFINITE ? 0 : ms);
    if (result == WAIT_TIMEOUT)
        ioLog.push_back("expired");
    return result;
}
BOOL WINAPI LoggedCancel(HANDLE h, LPOVERLAPPED o)
{
    ioLog.push_back("cancel");
    return recorded.CancelIoEx(h, o);
}
BOOL WINAPI LoggedResult(HANDLE h, LPOVERLAPPED o, LPDWORD c, BOOL wait)
{
    ioLog.push_back(wait ? "result-wait" : "result-nowait");
    return recorded.GetOverlappedResult(h, o, c, wait);
}
}  // namespace

TEST_CASE("a silent converter: each receive waits a bounded time, is cancelled, and its cancel completes")
{
    DialogDriver dialog;
    OpenConverter open(dialog);
    open.converter.AddFault(Fault(FaultRule::NoReply, 2, 40, 2));
    recorded = Sys();
    ioLog.clear();
    {
        BoundaryOverride<decltype(DeviceSyscalls::ReadFile)> read(&DeviceSyscalls::ReadFile, LoggedReadFile);
        BoundaryOverride<decltype(DeviceSyscalls::WaitForSingleObject)> wait(&DeviceSyscalls::WaitForSingleObject,
                                                                             LoggedWait);
        BoundaryOverride<decltype(DeviceSyscalls::CancelIoEx)> cancel(&DeviceSyscalls::CancelIoEx, LoggedCancel);
        BoundaryOverride<decltype(DeviceSyscalls::GetOverlappedResult)> result(&DeviceSyscalls::GetOverlappedResult,
                                                                               LoggedResult);
        CheckSucceeded(Call::readByte, RunCall(Call::readByte, open.port, 40), open.converter, open.before, 40);
    }
    CHECK(open.Reopenings() == 2);
    CHECK(dialog.StatusHistory().empty());

    // Never an unbounded wait; every expired wait is cancelled, and the
    // cancel is awaited before the buffer is read into again. The short
    // waits are the retried call's wait for the replies still on their
    // way: after the retried attempt that succeeded, a tenth of a second at
    // a time until none has come for longestReplyMs; then the attempt is
    // made once more, and that one counts.
    int expiredReceives = 0, queueLooks = 0;
    for (size_t i = 0; i < ioLog.size(); ++i) {
        CHECK(ioLog[i] != "wait-forever");
        if (ioLog[i].rfind("wait-", 0) == 0) {
            const bool receive = ioLog[i] == "wait-" + std::to_string(reportTimeoutMs);
            CHECK((receive || ioLog[i] == "wait-100"));
            if (!receive)
                ++queueLooks;
            if (receive && i + 1 < ioLog.size() && ioLog[i + 1] == "expired")
                ++expiredReceives;
        }
        if (ioLog[i] == "expired") {
            REQUIRE(i + 2 < ioLog.size());
            CHECK(ioLog[i + 1] == "cancel");
            CHECK(ioLog[i + 2] == "result-wait");
        }
    }
    CHECK(expiredReceives == 2);
    CHECK(queueLooks * 100 == longestReplyMs);
    CHECK(open.converter.ReadsOf(40) == 4);  // two silent, one doubted, one on a quiet line
}

namespace {
const OVERLAPPED *replyTransfer = nullptr;
BOOL WINAPI NotedReadFile(HANDLE h, LPVOID b, DWORD n, LPDWORD c, LPOVERLAPPED o)
{
    replyTransfer = o;
    return recorded.ReadFile(h, b, n, c, o);
}
// Every reply comes in four bytes short of the report.
BOOL WINAPI ShortReply(HANDLE h, LPOVERLAPPED o, LPDWORD c, BOOL wait)
{
    const BOOL done = recorded.GetOverlappedResult(h, o, c, wait);
    if (done && o == replyTransfer && *c > 4)
        *c -= 4;
    return done;
}
}  // namespace

TEST_CASE("a reply shorter than the report is a failed receive, never a value")
{
    // Bytes 3 to 8 of a short reply would be those an earlier reply left in
    // the buffer: each call fails at its first receive, ten times.
    DialogDriver dialog;
    for (Call call : allCalls) {
        INFO("call ", static_cast<int>(call));
        OpenConverter open(dialog);
        recorded = Sys();
        CallResult result;
        {
            BoundaryOverride<decltype(DeviceSyscalls::ReadFile)> read(&DeviceSyscalls::ReadFile, NotedReadFile);
            BoundaryOverride<decltype(DeviceSyscalls::GetOverlappedResult)> shorter(
                &DeviceSyscalls::GetOverlappedResult, ShortReply);
            result = RunCall(call, open.port, 60);
        }
        CHECK_FALSE(result.ok);
        CHECK(dialog.StatusHistory() == Texts{FailureText(call, 60, IsRead(call) ? 2 : 4)});
        if (IsRead(call))
            CHECK(result.value == Untouched(call));
        CHECK(open.Reopenings() == 9);
    }
}

namespace {
int closeCalls = 0;
BOOL(WINAPI *passClose)(HANDLE) = nullptr;
BOOL WINAPI CountedClose(HANDLE handle)
{
    ++closeCalls;
    return passClose(handle);
}
}  // namespace

TEST_CASE("a port closes itself when it goes out of scope, and a second close does nothing")
{
    DialogDriver dialog;
    ConverterOnBus bench;
    REQUIRE(FindConverter());
    BoundaryOverride<decltype(DeviceSyscalls::CloseHandle)> counting(&DeviceSyscalls::CloseHandle, CountedClose);
    passClose = counting.Original();
    closeCalls = 0;
    {
        DevicePort port;
        REQUIRE(OpenDevicePort(port));
        CHECK(bench.bus.OpenHandles() == 2);
        CloseDevicePort(port);
        CHECK(closeCalls == 2);
        CloseDevicePort(port);
        CHECK(closeCalls == 2);
        CHECK(bench.bus.OpenHandles() == 0);
        REQUIRE(OpenDevicePort(port));
        CHECK(bench.bus.OpenHandles() == 2);
    }
    CHECK(closeCalls == 4);
    CHECK(bench.bus.OpenHandles() == 0);
}
