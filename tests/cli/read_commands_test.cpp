// The commands a script relies on for their exit codes and output: diff,
// the calculator, the command line itself, and the trace of the traffic.
#include "tests/cli/cli_fixture.h"
#include "tests/support/portable_checks.h"

#include <doctest.h>

#include <cstdio>
#include <sstream>

namespace {

struct Row {
    std::vector<std::string> args;
    int code;
    std::vector<std::string> says;  // in standard output, or in standard error on failure
};

void CheckRows(CliFixture &fixture, const std::vector<Row> &rows)
{
    for (const Row &row : rows) {
        std::string name;
        for (const std::string &arg : row.args)
            name += arg + " ";
        CAPTURE(name);
        const CliRun run = fixture.Run(row.args);
        CHECK_MESSAGE(run.code == row.code, run.out, run.err);
        for (const std::string &part : row.says)
            CHECK_MESSAGE(Contains(run.out + run.err, part), run.out, run.err);
    }
}

}  // namespace

TEST_CASE_FIXTURE(CliFixture, "diff: 0 for the same settings, 5 for differences, 3 for a bad file")
{
    WriteBackup("factory.zyr", converter.Registers());
    Registers changed = converter.Registers();
    changed[6] = 35;
    WriteBackup("changed.zyr", changed);
    WriteText("broken.zyr", "format = zyr-backup 1\n");
    CheckRows(*this, {
        {{"diff", Path("factory.zyr"), "device"}, 0, {"no differences"}},
        {{"diff", "device", Path("factory.zyr"), "--json"}, 0, {"[]"}},
        {{"diff", Path("factory.zyr"), Path("changed.zyr")}, 5, {"speed adjustment", "6"}},
        {{"diff", Path("changed.zyr"), "device", "--json"}, 5, {"\"registers\""}},
        {{"diff", Path("broken.zyr"), "device"}, 3, {"broken.zyr"}},
        {{"diff", Path("absent.zyr"), "device"}, 3, {"absent.zyr"}},
    });
    // The converter gone: a device failure, said in words.
    converter.present = false;
    bus.Unplug(converter);
    CheckRows(*this, {{{"diff", Path("factory.zyr"), "device"}, 1, {"converter not found"}}});
}

TEST_CASE_FIXTURE(CliFixture, "calc: the worked examples, and a setting out of range refused")
{
    CheckRows(*this, {
        {{"calc", "tyre", "205/55R16", "225/45R17"}, 0, {"631.9", "634.3", "+0.38", "+0.4 %"}},
        {{"calc", "tyre", "205/55R16", "225/45R17", "--drive", "3.73:4.10"}, 0, {"-8.68", "-8.6 %"}},
        {{"calc", "gps", "100", "96", "--current", "+2.0"}, 0, {"-2.08", "-2.0 %"}},
        {{"calc", "gps", "100", "96", "--current=-2.0", "--json"}, 0, {"{"}},
        {{"calc", "gps", "100", "50"}, 4, {"25"}},
        {{"calc", "tyre", "205/55", "225/45R17"}, 2, {"205/55"}},
    });
}

TEST_CASE_FIXTURE(CliFixture, "the command line: usage errors exit 2, help and version 0, info and show")
{
    CheckRows(*this, {
        {{}, 2, {}},
        {{"frobnicate"}, 2, {"frobnicate"}},
        {{"backup"}, 2, {"FILE"}},
        {{"diff", "a"}, 2, {}},
        {{"table", "ap1-res", "--export", "a", "--svg", "b"}, 2, {"excludes"}},
        {{"table", "ap3-res"}, 2, {"ap3-res"}},
        {{"--help"}, 0, {"Exit codes", "5  diff found differences"}},
        {{"restore", "--help"}, 0, {"--dry-run", "--all", "--yes", "Exit codes"}},
        {{"--version"}, 0, {"zyrctl 1.2.3.1\n"}},
        {{"info"}, 0, {"converter found", "1.23.00", "VSS+ECT"}},
        {{"show"}, 0, {"1.23.00"}},
        {{"show", "--json"}, 0, {"{"}},
        {{"table", "ap1-res"}, 0, {"01) 4000mV\n"}},
        {{"table", "ap1-res", "--svg", Path("ap1.svg")}, 0, {"ap1.svg"}},
    });
    CHECK(Contains(ReadText(Path("ap1.svg")), "<svg"));
}

TEST_CASE_FIXTURE(CliFixture, "--trace: the reports on the wire, each failure, close and reopen")
{
    // One read request is not answered once: the protocol gives up on the
    // exchange, closes, reopens and asks again.
    converter.AddFault({sim::FaultRule::NoReply, 2, 40, 0, 1});
    bus.ClearTraffic();
    const CliRun run = Run({"--trace", Path("wire.log"), "show"});
    REQUIRE_MESSAGE(run.code == 0, run.err);

    std::vector<sim::Report> traced;
    std::vector<std::string> events;
    std::istringstream lines(ReadText(Path("wire.log")));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        double ms = -1;
        std::string unit, what;
        fields >> ms >> unit >> what;
        REQUIRE_MESSAGE(ms >= 0, line);
        events.push_back(what);
        sim::Report bytes{};
        unsigned value = 0, count = 0;
        if ((what == "out" || what == "in") && line.find("failed") == std::string::npos &&
            line.find("cancelled") == std::string::npos) {
            while (count < 9 && fields >> std::hex >> value)
                bytes[count++] = static_cast<uint8_t>(value);
            CHECK_MESSAGE(count == 9, line);
            traced.push_back(bytes);
        }
    }
    std::vector<sim::Report> wire;
    for (const sim::Transfer &transfer : bus.Traffic())
        wire.push_back(transfer.bytes);
    CHECK(traced == wire);
    // The unanswered request: a cancelled receive, then close, close, open, open.
    const std::string joined = [&] {
        std::string text;
        for (const std::string &event : events)
            text += event + " ";
        return text;
    }();
    CHECK_MESSAGE(Contains(joined, "in close close open open out"), joined);
    CHECK(bus.OpenHandles() == 0);
}
