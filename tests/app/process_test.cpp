// The programs themselves, each started as a process of its own: the main
// window appears, works, and closing it ends the process with exit code 0.
#include "tests/app/app_fixture.h"

#include "app/resource_ids.h"

#include <doctest.h>

#include <string>

namespace {

// A program built next to this test's folder: <build>/app/<name>.
std::string ProgramPath(const char *name)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path);
    for (int up = 0; up < 3; ++up)  // app_tests.exe, tests\app, tests
        folder.erase(folder.find_last_of("\\/"));
    return folder + "\\app\\" + name;
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Program {
public:
    explicit Program(const std::string &path)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::string command = "\"" + path + "\"";
        REQUIRE(CreateProcessA(path.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    }
    ~Program()
    {
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 10000);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }

    // A visible top-level window of this process with the caption; the
    // test ends when none shows.
    HWND WaitForWindow(const char *caption = "Brantix ZYR", DWORD timeoutMs = 30000)
    {
        const DWORD start = GetTickCount();
        HWND window = nullptr;
        while (!window && GetTickCount() - start < timeoutMs &&
               WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT)
            window = FindTopWindow(process.dwProcessId, caption);
        REQUIRE_MESSAGE(window != nullptr, "no window \"", caption, "\"");
        return window;
    }

    // Exit code, or STILL_ACTIVE when it has not ended in time.
    DWORD WaitForExit(DWORD timeoutMs = 20000)
    {
        WaitForSingleObject(process.hProcess, timeoutMs);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION process = {};
};

// Waits until another process's status line starts with the prefix.
bool WaitForStatus(HWND window, const std::string &prefix, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (WindowText(GetDlgItem(window, IDC_STATUS)).rfind(prefix, 0) == 0)
            return true;
        Sleep(20);
    }
    return false;
}

} // namespace

TEST_CASE("process: the shipped program opens its window and closes with exit code 0")
{
    const std::string path = ProgramPath("zyr.exe");
    REQUIRE_MESSAGE(Exists(path), path);
    Program program(path);
    HWND window = program.WaitForWindow();
    CHECK(WindowText(GetDlgItem(window, IDC_STATUS)) == " Status...");
    CHECK(GetWindow(window, GW_OWNER) == nullptr);
    PostMessageA(window, WM_CLOSE, 0, 0);
    CHECK(program.WaitForExit() == 0);
}

TEST_CASE("process: the demo reads its simulated converter and closes with exit code 0")
{
    const std::string path = ProgramPath("zyr_demo.exe");
    if (!Exists(path)) {
        MESSAGE("no demo build to start: ", path);
        return;
    }
    Program program(path);
    HWND window = program.WaitForWindow();
    PostMessageA(GetDlgItem(window, IDC_READ_DEVICE), BM_CLICK, 0, 0);
    SUBCASE("closed when idle")
    {
        REQUIRE(WaitForStatus(window, " Read OK        Ver:1.23.00        Device:VSS+ECT", 60000));
        // The read ends with the controls shown; then the worker is gone.
        for (int i = 0; i < 500 && !IsWindowEnabled(GetDlgItem(window, IDC_WRITE_DEVICE)); ++i)
            Sleep(10);
        CHECK(IsWindowEnabled(GetDlgItem(window, IDC_WRITE_DEVICE)));
        Sleep(300);
        PostMessageA(window, WM_CLOSE, 0, 0);
        CHECK(program.WaitForExit() == 0);
    }
    SUBCASE("closed during a read, confirmed with Yes")
    {
        REQUIRE(WaitForStatus(window, " Reading Device Data...", 10000));
        PostMessageA(window, WM_CLOSE, 0, 0);
        HWND warning = program.WaitForWindow("WARNING!", 10000);
        PostMessageA(GetDlgItem(warning, IDYES), BM_CLICK, 0, 0);
        // The cut-off worker is stopped and waited for: a clean exit.
        CHECK(program.WaitForExit() == 0);
    }
}
