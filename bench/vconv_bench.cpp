// The shipped code over Wine's own HID stack, timed: Read, Write and
// Format Device through the protocol bound to Win32, and a zyrctl backup
// (zyrctl.exe as a process), against the virtual converter paced at one
// 1 ms USB frame per report. Beside them, the same zyrctl backup by
// zyrctl_demo.exe over the simulated converter, which charges the same
// 1 ms per report. Each figure is set against the floor of the protocol:
// the reports it needs, 1 ms each, plus the pauses it mandates.
//
// Needs the virtual converter installed and converter 0 plugged (as the
// test command leaves it: scripts/env.sh, zyr_install_vconv). No dialog:
// with no main dialog the status line and the control refresh do nothing,
// and the write takes the image as it stands.
#include "bench/bench_floor.h"
#include "protocol/device_operations.h"
#include "vconv/vconv_client.h"
#include "vconv/vconv_control.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

using namespace bench;

// The folder this program was started from: build/<arch>/bench.
std::string BuildFolder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path);
    for (int up = 0; up < 2; ++up)
        folder.erase(folder.find_last_of("\\/"));
    return folder;
}

// Wall time of one program run to its end, output discarded; false when it
// did not end with exit code 0 within a minute.
bool TimeProgram(const std::string &commandLine, double &ms)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    const double start = NowMs();
    const BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                        &startup, &process);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!started)
        return false;
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    ms = NowMs() - start;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0;
}

bool TimeBackups(const std::string &program, int runs, double &bestMs)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string file = std::string(temp) + "zyr-bench-" + std::to_string(GetCurrentProcessId()) + ".zyr";
    bestMs = 1e300;
    for (int i = 0; i < runs; ++i) {
        double ms = 0;
        const bool ok = TimeProgram("\"" + program + "\" --quiet backup \"" + file + "\" --force", ms);
        DeleteFileA(file.c_str());
        if (!ok)
            return false;
        bestMs = std::min(bestMs, ms);
    }
    return true;
}

void Report(const char *name, double wallMs, double floorMs) { bench::Report("  ", 22, name, wallMs, floorMs); }

}  // namespace

int main()
{
    if (!VconvSetPacing(true)) {
        std::printf("the virtual converter is not running in this prefix: scripts/env.sh installs it "
                    "(zyr_install_vconv)\n");
        return 1;
    }
    const int runs = 3;
    OperationTimes times;
    double backupMs = 0, demoBackupMs = 0;
    const std::string app = BuildFolder() + "\\app\\";
    const bool measured = MeasureOperations(runs, times) && TimeBackups(app + "zyrctl.exe", runs, backupMs);
    VconvSetPacing(false);
    if (!measured) {
        std::printf("an operation failed against the virtual converter\n");
        return 1;
    }
    if (!TimeBackups(app + "zyrctl_demo.exe", runs, demoBackupMs)) {
        std::printf("zyrctl_demo.exe backup failed over the simulated converter\n");
        return 1;
    }
    std::printf("Over Wine's HID stack, the virtual converter at 1 ms per report (best of %d):\n", runs);
    ReportOperations("  ", 22, times);
    Report("zyrctl backup", backupMs, readFloorMs);
    std::printf("Over the simulated converter at 1 ms per report (best of %d):\n", runs);
    Report("zyrctl_demo backup", demoBackupMs, readFloorMs);
    std::printf("(zyrctl figures are whole program runs, Wine's process start included; zyr_bench.exe gives\n"
                " Read, Write and Format Device over the simulated converter)\n");
    return 0;
}
