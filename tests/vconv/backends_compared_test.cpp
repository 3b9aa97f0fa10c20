// One table of zyrctl sessions, run twice: by zyrctl_demo.exe over the
// simulated bus (its registers in a ZYR_SIM_STATE file, its faults in
// ZYR_SIM_FAULT) and by the shipped zyrctl.exe over the virtual converter
// inside Wine's own HID stack (registers and faults through the control
// channel). Row by row, the two must agree on the exit code, the output,
// the `--trace` of every report moved, the files written and the
// converter's registers afterwards. Each backend keeps its registers from
// one row to the next, so the rows are one session of commands.
//
// Where Wine's stack is known to differ from Windows, the comparison
// normalises that one difference and says why (see Normalised). Every
// other difference is a fault of the simulator, the virtual converter or
// the program, and fails the row.
#include "config/default_images.h"
#include "config/register_rows.h"
#include "sim/sim_fault_text.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/portable_checks.h"
#include "vconv/vconv_client.h"
#include "vconv/vconv_control.h"

#include <windows.h>
#include <winioctl.h>

#include <doctest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Registers = std::array<uint8_t, 256>;

Registers DefaultRegisters()
{
    Registers r;
    r.fill(0xFF);
    const DefaultImage image = FindDefaultImage(12300, 2);
    std::memcpy(r.data(), image.bytes, image.length);
    return r;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool StartsWith(const std::string &text, const std::string &start) { return text.rfind(start, 0) == 0; }

// Replaces every run that starts with `start` and ends before a blank
// (or the line's end) with `start` + "*".
std::string Masked(std::string text, const std::string &start)
{
    for (size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + start.size() + 1)) {
        const size_t end = text.find_first_of(" \r\n", at);
        text.replace(at, (end == std::string::npos ? text.size() : end) - at, start + "*");
    }
    return text;
}

// The faults of a row, in the virtual converter's terms; the simulator's
// text is made from the same numbers.
struct Fault {
    int silent = 0;
    int lateMs = 0, lateAt = -1, lateTimes = 0;
    int wrongAt = -1;
};

std::string SimFaultText(const Fault &f)
{
    std::string rules;
    auto add = [&](const std::string &rule) { rules += (rules.empty() ? "" : ";") + rule; };
    if (f.silent)
        add("no-reply");
    if (f.wrongAt >= 0)
        add("wrong-readback,at=" + std::to_string(f.wrongAt));
    if (f.lateMs > 0) {
        std::string rule = "late-reply,delay=" + std::to_string(f.lateMs);
        if (f.lateAt >= 0)
            rule += ",at=" + std::to_string(f.lateAt);
        if (f.lateTimes > 0)
            rule += ",times=" + std::to_string(f.lateTimes);
        add(rule);
    }
    return rules;
}

// What one run left behind, normalised for comparison.
struct RunResult {
    DWORD code = 0;
    std::string output, trace, file;
    Registers registers{};
};

// The trace without its clock, and without what differs by nature between
// the two backends: the device path the system gave the converter.
//
// Normalised, over Wine only: the reads between a retry's reopening and its
// first request. Wine 8.0's HidD_FlushQueue fails (error 50) and flushes
// nothing, where Windows' (and the simulator's) empties the queue, so the
// protocol reads the queue empty itself, through the traced boundary; on
// Windows those reads never happen.
std::vector<std::string> TraceLines(const std::string &text, bool overWine)
{
    std::vector<std::string> lines;
    bool reopened = false;
    for (std::string line : Lines(text)) {
        const size_t ms = line.find(" ms  ");
        if (ms != std::string::npos)
            line = line.substr(ms + 5);
        if (StartsWith(line, "open ")) {
            const size_t path = line.find("\\\\?\\");
            if (path != std::string::npos)
                line = line.substr(0, path) + "PATH";
        }
        if (StartsWith(line, "out ") || StartsWith(line, "close "))
            reopened = false;
        if (overWine && reopened && StartsWith(line, "in "))
            continue;
        if (StartsWith(line, "open   write") && !lines.empty() && StartsWith(lines.back(), "open   read"))
            reopened = true;  // before a first request nothing is read either way
        lines.push_back(line);
    }
    return lines;
}

// Empty when equal, else the first line where they part, with its neighbours.
std::string FirstDifference(const std::vector<std::string> &sim, const std::vector<std::string> &wine)
{
    if (sim == wine)
        return "";
    size_t at = 0;
    while (at < sim.size() && at < wine.size() && sim[at] == wine[at])
        at++;
    std::string text = "first difference at line " + std::to_string(at + 1) + "\n";
    const size_t from = at >= 3 ? at - 3 : 0;
    for (size_t i = from; i < at + 3; ++i) {
        text += "  sim:  " + (i < sim.size() ? sim[i] : std::string("(end)")) + "\n";
        text += "  wine: " + (i < wine.size() ? wine[i] : std::string("(end)")) + "\n";
    }
    return text;
}

std::string OutputText(const std::string &text)
{
    std::string out;
    for (std::string line : Lines(text)) {
        if (StartsWith(line, "device path: "))
            line = "device path: PATH";
        out += Masked(line, "zyr-before-") + "\n";
    }
    return out;
}

// The 16 register rows of a backup file, and nothing of its other lines
// (which carry the time it was saved).
std::string RowsOf(const std::string &text)
{
    uint8_t registers[256];
    const Result read = RegistersFromRows(text, registers);
    return read ? FormatRegisterRows(registers) : "no backup: " + read.Message();
}

struct Row {
    const char *args;
    Fault fault;
    DWORD code;  // the exit code both must give
    const char *file;  // a backup the command writes, compared row by row; or null
};

class Backends {
public:
    Backends()
    {
        ZyrvStatus status = {};
        REQUIRE_MESSAGE(VconvRequest(ZYRV_IOCTL_GET_STATUS, nullptr, 0, &status, sizeof status),
                        "the virtual converter is not running in this prefix: scripts/env.sh installs it "
                        "(zyr_install_vconv)");
        REQUIRE_MESSAGE((status.converters[0].plugged && status.converters[0].present),
                        "converter 0 is not on the virtual bus: it was unplugged earlier in this Wine session");
        char temp[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, temp);
        previousFolder = temp;

        unsigned char registers[256];
        const Registers start = DefaultRegisters();
        std::memcpy(registers, start.data(), 256);
        WriteWholeFile(simFolder + "state.txt", sim::FormatSimState(registers));
        SetFaults(Fault());
        Pacing(false);
        REQUIRE(VconvSetRegisters(0, start.data()));
    }
    ~Backends()
    {
        SetCurrentDirectoryA(previousFolder.c_str());
        SetEnvironmentVariableA("ZYR_SIM_STATE", nullptr);
        SetEnvironmentVariableA("ZYR_SIM_FAULT", nullptr);
        SetFaults(Fault());
        Pacing(true);
    }

    // A file both sessions find in their folder.
    void Give(const std::string &name, const std::string &text)
    {
        WriteWholeFile(simFolder + name, text);
        WriteWholeFile(wineFolder + name, text);
    }

    RunResult OverSimulator(const Row &row)
    {
        SetEnvironmentVariableA("ZYR_SIM_STATE", (simFolder + "state.txt").c_str());
        SetEnvironmentVariableA("ZYR_SIM_FAULT", SimFaultText(row.fault).c_str());
        RunResult result = Run("zyrctl_demo.exe", simFolder, row);
        SetEnvironmentVariableA("ZYR_SIM_FAULT", nullptr);
        unsigned char registers[256] = {};
        const Result read = sim::ParseSimState(ReadWholeFile(simFolder + "state.txt"), registers);
        CHECK_MESSAGE(read.Ok(), read.Message());
        std::memcpy(result.registers.data(), registers, 256);
        return result;
    }

    RunResult OverWine(const Row &row)
    {
        SetFaults(row.fault);
        RunResult result = Run("zyrctl.exe", wineFolder, row);
        SetFaults(Fault());
        CHECK(VconvGetRegisters(0, result.registers.data()));
        return result;
    }

private:
    RunResult Run(const char *program, const std::string &folder, const Row &row)
    {
        SetCurrentDirectoryA(folder.c_str());
        DeleteFileA((folder + "trace.txt").c_str());
        const std::string log = folder + "output.txt";
        RunResult result;
        {
            ChildProcess zyrctl("\"" + ProgramPath(program) + "\" --trace trace.txt " + row.args, log);
            result.code = zyrctl.WaitForExit(120000);
        }
        result.output = ReadWholeFile(log);
        result.trace = ReadWholeFile(folder + "trace.txt");
        if (row.file)
            result.file = RowsOf(ReadWholeFile(folder + row.file));
        return result;
    }

    static void SetFaults(const Fault &fault)
    {
        ZyrvFaults f = {};
        f.slot = 0;
        f.silent = fault.silent;
        f.lateMs = fault.lateMs;
        f.lateAt = fault.lateAt;
        f.lateTimes = fault.lateTimes;
        f.wrongAt = fault.wrongAt;
        f.unplugAfter = -1;
        REQUIRE(VconvRequest(ZYRV_IOCTL_SET_FAULTS, &f, sizeof f));
    }
    static void Pacing(bool on) { REQUIRE(VconvSetPacing(on)); }

    TempFolder simTemp{"zbs"}, wineTemp{"zbw"};  // gone with all the programs left in them
    std::string simFolder = simTemp.Path(), wineFolder = wineTemp.Path(), previousFolder;
};

Fault Silent()
{
    Fault f;
    f.silent = 1;
    return f;
}

Fault WrongAt(int address)
{
    Fault f;
    f.wrongAt = address;
    return f;
}

Fault Late(int ms, int at, int times)
{
    Fault f;
    f.lateMs = ms;
    f.lateAt = at;
    f.lateTimes = times;
    return f;
}

}  // namespace

TEST_CASE("one session of zyrctl commands gives the same trace and result over the simulator and over Wine's HID stack")
{
    Backends backends;
    backends.Give("ap1.txt",
                  "01) 4000mV\r\n02) 3400mV\r\n03) 2880mV\r\n04) 2320mV\r\n05) 1760mV\r\n06) 1200mV\r\n07) 0640mV\r\n");
    const Row rows[] = {
        {"info", Fault(), 0, nullptr},
        {"backup before.zyr", Fault(), 0, "before.zyr"},
        {"set speed=+3.5 --yes", Fault(), 0, nullptr},
        {"table ap1-res --import ap1.txt --yes", Fault(), 0, nullptr},
        {"restore before.zyr --yes", Fault(), 0, nullptr},
        // The converter answers nothing: every wait ends, with the same message.
        {"info", Silent(), 1, nullptr},
        // Register 6 always reads back another value than written.
        {"set speed=-2.0 --yes", WrongAt(6), 1, nullptr},
        // The first reply for register 20 comes after the read stopped
        // waiting, and after the retry reopened the port, but before its
        // next request: the retry must not take it for the next reply.
        {"backup late.zyr", Late(650, 20, 1), 0, "late.zyr"},
    };
    for (const Row &row : rows) {
        const std::string args = row.args, fault = SimFaultText(row.fault);
        CAPTURE(args);
        CAPTURE(fault);
        const RunResult sim = backends.OverSimulator(row);
        const RunResult wine = backends.OverWine(row);
        CHECK(sim.code == row.code);
        CHECK(wine.code == row.code);
        CHECK(OutputText(sim.output) == OutputText(wine.output));
        const std::string traces = FirstDifference(TraceLines(sim.trace, false), TraceLines(wine.trace, true));
        CHECK_MESSAGE(traces.empty(), traces);
        CHECK(sim.file == wine.file);
        if (row.file) {  // and the file holds what the converter holds
            uint8_t held[256];
            std::memcpy(held, wine.registers.data(), 256);
            CHECK(wine.file == FormatRegisterRows(held));
        }
        CHECK(sim.registers == wine.registers);
        CHECK(!TraceLines(sim.trace, false).empty());
        if (row.fault.lateMs) {  // the fault fired: a read stopped waiting, on both
            CHECK(sim.trace.find("cancelled: no answer in time") != std::string::npos);
            CHECK(wine.trace.find("cancelled: no answer in time") != std::string::npos);
        }
    }
}
