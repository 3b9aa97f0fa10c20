// The register calls against the simulated converter: the exchanges on the
// wire, every failure stage of every call, the retry frame with its
// reopenings and pauses, and the messages left on the status line.
#include "protocol/device_port.h"

#include "device/hid_com.h"
#include "protocol/report_transfer.h"
#include "tests/protocol/protocol_fixture.h"

#include <doctest.h>

#include <string>
#include <vector>

using sim::FaultRule;

namespace {

enum class Call { readByte, readWord, writeByte, writeWord };

constexpr uint8_t byteSentinel = 0xA5;
constexpr uint16_t wordSentinel = 0xA5A5;
constexpr uint8_t byteWritten = 0x5A;
constexpr uint16_t wordWritten = 0x3C5A;

struct CallResult {
    bool ok;
    uint16_t value;  // the out-value after the call (reads)
};

CallResult RunCall(Call call, DevicePort &port, uint8_t address)
{
    switch (call) {
    case Call::readByte: {
        uint8_t value = byteSentinel;
        bool ok = ReadRegister(port, address, value);
        return {ok, value};
    }
    case Call::readWord: {
        uint16_t value = wordSentinel;
        bool ok = ReadRegisterWord(port, address, value);
        return {ok, value};
    }
    case Call::writeByte:
        return {WriteRegister(port, address, byteWritten), 0};
    case Call::writeWord:
        return {WriteRegisterWord(port, address, wordWritten), 0};
    }
    return {false, 0};
}

bool IsRead(Call call)
{
    return call == Call::readByte || call == Call::readWord;
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
    ConverterOnBus bench;
    DevicePort port;
    int opensAfterFirst = 0;
    uint64_t startMs = 0;

    OpenConverter()
    {
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

struct StageCase {
    Call call;
    FaultRule::Kind kind;
    int command;
    int address;      // of the faulty exchange
    uint8_t callAt;   // the call's (low) address
    int stage;
};

std::string FailureText(Call call, int address, int stage)
{
    return std::string(IsRead(call) ? " Read Failed; ERR[" : " Write Failed; ERR[") + std::to_string(address) +
           "-" + std::to_string(stage) + "]";
}

} // namespace

TEST_CASE("a read exchange is one request and one reply; a write adds its request and a 5 ms pause")
{
    DialogDriver dialog;
    OpenConverter open;
    auto &converter = open.bench.converter;
    const auto pattern = converter.Registers();

    uint8_t value = 0;
    REQUIRE(ReadRegister(open.port, 100, value));
    CHECK(value == pattern[100]);
    auto traffic = open.bench.bus.Traffic();
    REQUIRE(traffic.size() == 2);
    CHECK(traffic[0].toDevice);
    CHECK(traffic[0].bytes == sim::Report{0, 2, 100, 0, 0, 0, 0, 0, 0});
    CHECK_FALSE(traffic[1].toDevice);
    CHECK(traffic[1].bytes[3] == pattern[100]);

    open.bench.bus.ClearTraffic();
    REQUIRE(WriteRegister(open.port, 100, 0x42));
    CHECK(converter.Register(100) == 0x42);
    traffic = open.bench.bus.Traffic();
    REQUIRE(traffic.size() == 3);  // no reply is read after a write request
    CHECK(traffic[0].bytes[1] == 1);
    CHECK(traffic[0].bytes[2] == 100);
    CHECK(traffic[0].bytes[3] == 0x42);
    CHECK(traffic[1].bytes[1] == 2);
    CHECK(traffic[1].bytes[2] == 100);
    CHECK(traffic[1].bytes[3] == 0);
    CHECK(traffic[2].bytes[3] == 0x42);
    CHECK(open.bench.bus.Sleeps() == std::vector<DWORD>{5});
    CHECK(dialog.StatusHistory().empty());
    CHECK(open.Reopenings() == 0);
}

TEST_CASE("word calls: low byte at the address, high byte at the next, wrapping from 255 to 0")
{
    DialogDriver dialog;
    OpenConverter open;
    auto &converter = open.bench.converter;
    converter.SetRegister(255, 0x34);
    converter.SetRegister(0, 0x12);

    uint16_t word = 0;
    REQUIRE(ReadRegisterWord(open.port, 255, word));
    CHECK(word == 0x1234);
    auto traffic = open.bench.bus.Traffic();
    REQUIRE(traffic.size() == 4);
    CHECK(traffic[0].bytes[2] == 255);
    CHECK(traffic[2].bytes[2] == 0);
    // The buffer is cleared once per call: the second request carries the
    // report-ID byte and bytes 4 to 8 that the first reply left behind.
    CHECK(traffic[2].bytes[0] == traffic[1].bytes[0]);
    for (int i = 4; i < 9; ++i)
        CHECK(traffic[2].bytes[i] == traffic[1].bytes[i]);

    open.bench.bus.ClearTraffic();
    REQUIRE(WriteRegisterWord(open.port, 255, 0xBEEF));
    CHECK(converter.Register(255) == 0xEF);
    CHECK(converter.Register(0) == 0xBE);
    traffic = open.bench.bus.Traffic();
    std::vector<std::pair<int, int>> requests;  // command, address
    for (const auto &t : traffic)
        if (t.toDevice)
            requests.emplace_back(t.bytes[1], t.bytes[2]);
    CHECK(requests == std::vector<std::pair<int, int>>{{1, 255}, {1, 0}, {2, 255}, {2, 0}});
    CHECK(open.bench.bus.Sleeps() == std::vector<DWORD>{5, 5});
    CHECK(dialog.StatusHistory().empty());
}

TEST_CASE("every stage of every register call fails ten times, then names address and stage")
{
    const uint8_t a = 100;
    const std::vector<StageCase> cases = {
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
    };

    DialogDriver dialog;
    for (const StageCase &c : cases) {
        CAPTURE(static_cast<int>(c.call));
        CAPTURE(static_cast<int>(c.kind));
        CAPTURE(c.address);
        dialog.ClearStatusHistory();
        {
            OpenConverter open;
            auto &converter = open.bench.converter;
            const auto before = converter.Registers();
            FaultRule rule;
            rule.kind = c.kind;
            rule.command = c.command;
            rule.address = c.address;
            converter.AddFault(rule);

            const DWORD realStart = GetTickCount();
            CallResult result = RunCall(c.call, open.port, c.callAt);
            const DWORD realMs = GetTickCount() - realStart;

            CHECK_FALSE(result.ok);
            CHECK(dialog.StatusHistory() == std::vector<std::string>{FailureText(c.call, c.callAt, c.stage)});
            if (c.call == Call::readByte)
                CHECK(result.value == byteSentinel);  // a failed read leaves the out-value alone
            if (c.call == Call::readWord)
                CHECK(result.value == wordSentinel);

            // Ten attempts: nine close-pause-reopen-pause cycles in between.
            CHECK(open.Reopenings() == 9);
            CHECK(PausesOf(open.bench.bus.Sleeps(), 100) == 18);
            CHECK(open.bench.bus.NowMs() - open.startMs >= 1800);
            CHECK(realMs < 1500);  // virtual time: the pauses cost nothing real
            CHECK(PortOpen(open.port));

            // What reached the converter, counted on the wire: every attempt
            // starts again from its first request.
            const auto traffic = open.bench.bus.Traffic();
            const int firstCommand = IsRead(c.call) ? 2 : 1;
            const bool firstRequestFails = c.stage == 1;
            const int firstRequests = firstCommand == 2 ? ReadRequestsOnWire(traffic, c.callAt)
                                                        : WriteRequestsOnWire(traffic, c.callAt);
            if (!firstRequestFails)
                CHECK(firstRequests == 10);
            if (c.call == Call::writeByte) {
                const int writes = converter.WritesTo(c.callAt);
                CHECK(writes == (firstRequestFails ? 0 : 10));
                CHECK(converter.Register(c.callAt) == (firstRequestFails ? before[c.callAt] : byteWritten));
            }
            for (int r = 0; r < 256; ++r)
                if (r != c.callAt && r != static_cast<uint8_t>(c.callAt + 1))
                    CHECK(converter.Register(r) == before[r]);

            CloseDevicePort(open.port);
            CHECK(open.bench.bus.OpenHandles() == 0);
        }
    }
}

TEST_CASE("a register call that fails a few times and then succeeds says nothing")
{
    DialogDriver dialog;
    for (Call call : {Call::readByte, Call::readWord, Call::writeByte, Call::writeWord}) {
        CAPTURE(static_cast<int>(call));
        dialog.ClearStatusHistory();
        OpenConverter open;
        auto &converter = open.bench.converter;
        const auto pattern = converter.Registers();
        FaultRule rule;
        rule.kind = IsRead(call) ? FaultRule::ReceiveFails : FaultRule::WrongReadBack;
        rule.command = 2;
        rule.address = 60;
        rule.times = 9;  // the tenth attempt goes through
        converter.AddFault(rule);

        CallResult result = RunCall(call, open.port, 60);
        CHECK(result.ok);
        CHECK(open.Reopenings() == 9);
        CHECK(dialog.StatusHistory().empty());
        if (call == Call::readByte)
            CHECK(result.value == pattern[60]);
        if (call == Call::readWord)
            CHECK(result.value == (pattern[60] | pattern[61] << 8));
        if (call == Call::writeByte)
            CHECK(converter.Register(60) == byteWritten);
        if (call == Call::writeWord) {
            CHECK(converter.Register(60) == (wordWritten & 0xFF));
            CHECK(converter.Register(61) == (wordWritten >> 8));
        }
        CHECK(PortOpen(open.port));
    }
}

TEST_CASE("a reopening that fails ends the call at once with the port's own message")
{
    DialogDriver dialog;

    {
        INFO("reopening for reading fails");
        dialog.ClearStatusHistory();
        OpenConverter open;
        open.bench.converter.failOpenRead = true;
        FaultRule rule;
        rule.kind = FaultRule::ReceiveFails;
        rule.times = 1;
        open.bench.converter.AddFault(rule);
        CallResult result = RunCall(Call::readWord, open.port, 1);
        CHECK_FALSE(result.ok);
        CHECK(result.value == wordSentinel);
        CHECK(dialog.StatusHistory() == std::vector<std::string>{" USB open read failed"});
        CHECK(PortClosed(open.port));
        CHECK(open.bench.bus.OpenHandles() == 0);
        CHECK(PausesOf(open.bench.bus.Sleeps(), 100) == 1);  // only the one before the reopening
    }
    {
        INFO("reopening for writing fails");
        dialog.ClearStatusHistory();
        OpenConverter open;
        open.bench.converter.failOpenWrite = true;
        FaultRule rule;
        rule.kind = FaultRule::WrongReadBack;
        rule.times = 1;
        open.bench.converter.AddFault(rule);
        CallResult result = RunCall(Call::writeByte, open.port, 20);
        CHECK_FALSE(result.ok);
        CHECK(dialog.StatusHistory() == std::vector<std::string>{" USB open write failed"});
        CHECK(PortClosed(open.port));
        CHECK(open.bench.bus.OpenHandles() == 0);
    }
    {
        INFO("the converter is unplugged during the exchange and stays away");
        dialog.ClearStatusHistory();
        OpenConverter open;
        FaultRule rule;
        rule.kind = FaultRule::Unplug;
        rule.command = 2;
        rule.address = 30;
        rule.times = 1;
        open.bench.converter.AddFault(rule);
        CallResult result = RunCall(Call::readByte, open.port, 30);
        CHECK_FALSE(result.ok);
        CHECK(result.value == byteSentinel);
        CHECK(dialog.StatusHistory() == std::vector<std::string>{" USB open read failed"});
        CHECK(PortClosed(open.port));
        CHECK(open.bench.bus.OpenHandles() == 0);
    }
    {
        INFO("the converter is unplugged and back before the reopening: the call succeeds");
        dialog.ClearStatusHistory();
        OpenConverter open;
        const auto pattern = open.bench.converter.Registers();
        FaultRule rule;
        rule.kind = FaultRule::Unplug;
        rule.command = 2;
        rule.address = 30;
        rule.times = 1;
        rule.replugAfterMs = 50;
        open.bench.converter.AddFault(rule);
        CallResult result = RunCall(Call::readByte, open.port, 30);
        CHECK(result.ok);
        CHECK(result.value == pattern[30]);
        CHECK(dialog.StatusHistory().empty());
        CHECK(open.Reopenings() == 1);
        CHECK(PortOpen(open.port));
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
} // namespace

TEST_CASE("every transfer asks for the report length of the match criteria, read afresh each time")
{
    DialogDriver dialog;
    OpenConverter open;
    beforeLengths = Sys();
    BoundaryOverride<decltype(DeviceSyscalls::WriteFile)> write(&DeviceSyscalls::WriteFile, RecordWriteLength);
    BoundaryOverride<decltype(DeviceSyscalls::ReadFile)> read(&DeviceSyscalls::ReadFile, RecordReadLength);
    transferLengths.clear();
    uint8_t value = 0;
    CHECK(ReadRegister(open.port, 9, value));
    CHECK(transferLengths == std::vector<DWORD>{9, 9});

    // The longest length the criteria can hold: the call's buffer takes it.
    const uint8_t stored = hidDevice.match.inputReportLength;
    hidDevice.match.inputReportLength = 255;
    transferLengths.clear();
    CHECK(WriteRegister(open.port, 9, 0x77));
    hidDevice.match.inputReportLength = stored;
    CHECK(transferLengths == std::vector<DWORD>{255, 255, 255});
    CHECK(open.bench.converter.Register(9) == 0x77);
}

TEST_CASE("opening the port: both handles or none, and a message for each failure")
{
    DialogDriver dialog;
    ConverterOnBus bench;
    REQUIRE(FindConverter());
    DevicePort port;

    bench.converter.failOpenRead = true;
    CHECK_FALSE(OpenDevicePort(port));
    CHECK(PortClosed(port));
    CHECK(bench.bus.OpenHandles() == 0);

    bench.converter.failOpenRead = false;
    bench.converter.failOpenWrite = true;
    CHECK_FALSE(OpenDevicePort(port));
    CHECK(PortClosed(port));
    CHECK(bench.bus.OpenHandles() == 0);  // the read handle was closed again
    CHECK(dialog.StatusHistory() == std::vector<std::string>{" USB open read failed", " USB open write failed"});

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
} // namespace

TEST_CASE("a silent converter: each receive waits a bounded time, is cancelled, and its cancel completes")
{
    DialogDriver dialog;
    OpenConverter open;
    const auto pattern = open.bench.converter.Registers();
    FaultRule rule;
    rule.kind = FaultRule::NoReply;
    rule.command = 2;
    rule.address = 40;
    rule.times = 2;
    open.bench.converter.AddFault(rule);

    recorded = Sys();
    ioLog.clear();
    {
        BoundaryOverride<decltype(DeviceSyscalls::ReadFile)> read(&DeviceSyscalls::ReadFile, LoggedReadFile);
        BoundaryOverride<decltype(DeviceSyscalls::WaitForSingleObject)> wait(&DeviceSyscalls::WaitForSingleObject,
                                                                             LoggedWait);
        BoundaryOverride<decltype(DeviceSyscalls::CancelIoEx)> cancel(&DeviceSyscalls::CancelIoEx, LoggedCancel);
        BoundaryOverride<decltype(DeviceSyscalls::GetOverlappedResult)> result(&DeviceSyscalls::GetOverlappedResult,
                                                                               LoggedResult);
        uint8_t value = 0;
        CHECK(ReadRegister(open.port, 40, value));
        CHECK(value == pattern[40]);
    }
    CHECK(open.Reopenings() == 2);
    CHECK(dialog.StatusHistory().empty());

    // Never an unbounded wait; every expired wait is cancelled, and the
    // cancel is awaited before the buffer is read into again.
    int expired = 0;
    for (size_t i = 0; i < ioLog.size(); ++i) {
        CHECK(ioLog[i] != "wait-forever");
        if (ioLog[i].rfind("wait-", 0) == 0)
            CHECK(ioLog[i] == "wait-" + std::to_string(reportTimeoutMs));
        if (ioLog[i] == "expired") {
            ++expired;
            REQUIRE(i + 2 < ioLog.size());
            CHECK(ioLog[i + 1] == "cancel");
            CHECK(ioLog[i + 2] == "result-wait");
        }
    }
    CHECK(expired == 2);
}

TEST_CASE("in real time a silent converter costs one bounded wait, then the retry succeeds")
{
    DialogDriver dialog;
    OpenConverter open;
    open.bench.bus.SetRealTime(true, 0);
    const auto pattern = open.bench.converter.Registers();
    FaultRule rule;
    rule.kind = FaultRule::NoReply;
    rule.command = 2;
    rule.address = 7;
    rule.times = 1;
    open.bench.converter.AddFault(rule);

    const DWORD start = GetTickCount();
    uint8_t value = 0;
    CHECK(ReadRegister(open.port, 7, value));
    const DWORD elapsed = GetTickCount() - start;
    CHECK(value == pattern[7]);
    CHECK(elapsed >= reportTimeoutMs - 20);          // the wait did run its course
    CHECK(elapsed < reportTimeoutMs + 200 + 1500);   // ... and ended: limit, two pauses, slack
    open.bench.bus.SetRealTime(false);
}
