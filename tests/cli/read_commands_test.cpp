// The commands a script relies on for their exit codes and output: diff,
// the calculator, the command line itself, the trace of the traffic, and
// how the text reaches a console or a file.
#include "cli/console_stream.h"
#include "cli/wide_names.h"
#include "cli/zyrctl.h"
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
    for (const Row &row : rows)
        fixture.RunAndCheck(row.args, row.code, row.says);
}

// Writes the pieces through zyrctl's console stream over `handle`, each
// flushed on its own, after checking whether the stream takes it for a console.
void WritePieces(HANDLE handle, bool console, const std::vector<std::string> &pieces)
{
    ConsoleStreamBuffer buffer(handle);
    CHECK(buffer.IsConsole() == console);
    std::ostream out(&buffer);
    for (const std::string &piece : pieces)
        out << piece << std::flush;
}

}  // namespace

TEST_CASE_FIXTURE(CliFixture, "diff: 0 for the same settings, 5 for differences, 3 for a bad file")
{
    WriteBackup("factory.zyr", converter.Registers());
    WriteChangedBackup("changed.zyr", 6, 35);
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
    CheckRows(*this,
              {
                  {{}, 2, {}},
                  {{"frobnicate"}, 2, {"frobnicate"}},
                  {{"backup"}, 2, {"FILE"}},
                  {{"diff", "a"}, 2, {}},
                  {{"table", "ap1-res", "--export", "a", "--svg", "b"}, 2, {"excludes"}},
                  {{"table", "ap3-res"}, 2, {"ap3-res"}},
                  {{"--help"},
                   0,
                   {"Exit codes", "5  differences  diff found differences", "--wait SECONDS", "another ZYR program"}},
                  {{"--wait", "soon", "info"}, 2, {"--wait"}},
                  {{"--wait", "-1", "info"}, 2, {"--wait"}},
                  {{"--wait", "nan", "info"}, 2, {"--wait: not a number of seconds"}},
                  {{"--wait", "3601", "info"}, 2, {"--wait"}},
                  {{"--wait", "1", "frobnicate"}, 2, {"\"frobnicate\" is not a command"}},
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
    // The unanswered request: a cancelled receive, then close, close, open,
    // open; the flush empties the new handle's queue, so nothing is read.
    const std::string joined = [&] {
        std::string text;
        for (const std::string &event : events)
            text += event + " ";
        return text;
    }();
    CHECK_MESSAGE(Contains(joined, "in close close open open out"), joined);
    CHECK(bus.OpenHandles() == 0);
}

TEST_CASE_FIXTURE(CliFixture, "console text: wide on a console, the UTF-8 bytes as they are into a file")
{
    // Each row is written in pieces, flushed after each, so a character can
    // be cut between two writes.
    struct Row {
        std::vector<std::string> pieces;
        std::wstring shown;  // on the console
    };
    const Row rows[] = {
        {{"saved to C:\\日本 é\\b.zyr"}, L"saved to C:\\\u65e5\u672c \u00e9\\b.zyr"},
        {{"Ελλ\xCE", "\xB7νικά"}, L"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac"},
        {{"\xE6", "\x97", "\xA5."}, L"\u65e5."},
        {{"\xF0\x9F\x98", "\x80 ok"}, L"\U0001F600 ok"},
        {{"Ünïcødé\r\n"}, L"\u00dcn\u00efc\u00f8d\u00e9"},
    };

    // A console of this process's own; the handles it had come back after.
    // The console itself stays to the end of the process: one that has
    // freed its console cannot start a Linux program under Wine, and the
    // tests that list the files on the Linux side start one.
    const HANDLE previous[] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                               GetStdHandle(STD_ERROR_HANDLE)};
    FreeConsole();
    // The console's own process starts in the current folder and keeps it
    // to the end: it starts in the system folder, so that this test's
    // folder can go when the test ends.
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, sizeof system);
    SetCurrentDirectoryA(system);
    const bool allocated = AllocConsole();
    SetCurrentDirectoryA(folder.c_str());
    REQUIRE(allocated);
    HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    REQUIRE(screen != INVALID_HANDLE_VALUE);
    int line = 0;
    for (const Row &row : rows) {
        CAPTURE(row.pieces[0]);
        COORD start = {0, static_cast<SHORT>(line)};
        SetConsoleCursorPosition(screen, start);
        WritePieces(screen, true, row.pieces);
        std::wstring shown(row.shown.size(), L'\0');
        DWORD read = 0;
        CHECK(ReadConsoleOutputCharacterW(screen, &shown[0], static_cast<DWORD>(shown.size()), start, &read));
        CHECK(read == row.shown.size());
        CHECK(shown == row.shown);
        line += 2;
    }
    CloseHandle(screen);
    SetStdHandle(STD_INPUT_HANDLE, previous[0]);
    SetStdHandle(STD_OUTPUT_HANDLE, previous[1]);
    SetStdHandle(STD_ERROR_HANDLE, previous[2]);

    for (const Row &row : rows) {
        std::string bytes;
        for (const std::string &piece : row.pieces)
            bytes += piece;
        CAPTURE(bytes);
        HANDLE file = CreateFileW(FileSystemName(Path("out.txt")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        REQUIRE(file != INVALID_HANDLE_VALUE);
        WritePieces(file, false, row.pieces);
        CloseHandle(file);
        CHECK(ReadText(Path("out.txt")) == bytes);
    }
}

TEST_CASE_FIXTURE(CliFixture, "output that cannot be written: a message on standard error and exit 3")
{
    // A device that takes nothing (Linux's full disk, as Wine shows it):
    // every write to it fails, whether the output is a console stream, the
    // help text or the trace file.
    const std::string full = "Z:\\dev\\full";
    struct Row {
        std::vector<std::string> args;
        bool outputFull;  // standard output goes to the full device
        std::string says;
    };
    const Row rows[] = {
        {{"show"}, true, "standard output could not be written"},
        {{"info", "--json"}, true, "standard output could not be written"},
        {{"calc", "gps", "100", "96"}, true, "standard output could not be written"},
        {{"--help"}, true, "standard output could not be written"},
        {{"--trace", full, "info"}, false, "the trace file " + full + " could not be written"},
    };
    for (const Row &row : rows) {
        CAPTURE(row.args[0]);
        HANDLE device = CreateFileW(FileSystemName(full).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(device != INVALID_HANDLE_VALUE);
        std::vector<const char *> argv{"zyrctl"};
        for (const std::string &arg : row.args)
            argv.push_back(arg.c_str());
        std::istringstream in;
        std::ostringstream text, err;
        int code = -1;
        {
            ConsoleStreamBuffer buffer(device);
            std::ostream fullOut(&buffer);
            const ZyrctlConsole streams{in, row.outputFull ? fullOut : static_cast<std::ostream &>(text), err};
            code = ZyrctlMain(static_cast<int>(argv.size()), argv.data(), streams);
        }
        CloseHandle(device);
        CHECK_MESSAGE(code == 3, err.str());
        CHECK_MESSAGE(Contains(err.str(), "zyrctl: " + row.says), err.str());
    }
}
