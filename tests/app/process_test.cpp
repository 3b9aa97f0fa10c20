// The programs themselves, each started as a process of its own: the main
// window appears, works, and closing it ends the process with exit code 0.
#include "tests/app/app_fixture.h"

#include "app/resource_ids.h"
#include "tests/support/child_process.h"
#include "tests/support/dialog_driver.h"

#include <doctest.h>

#include <string>

namespace {

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The program without arguments, as a double click starts it.
std::string Quoted(const std::string &path) { return "\"" + path + "\""; }

}  // namespace

TEST_CASE("process: the shipped program opens its window and closes with exit code 0")
{
    const std::string path = ProgramPath("zyr.exe");
    REQUIRE_MESSAGE(Exists(path), path);
    ChildProcess program(Quoted(path));
    HWND window = program.WaitForWindow("Brantix ZYR");
    CHECK(WindowText(GetDlgItem(window, IDC_STATUS)) == " Status...");
    CHECK(GetWindow(window, GW_OWNER) == nullptr);
    PostMessageA(window, WM_CLOSE, 0, 0);
    CHECK(program.WaitForExit() == 0);
}

TEST_CASE("process: the demo reads its simulated converter and closes with exit code 0")
{
    const std::string path = ProgramPath("zyr_demo.exe");
    REQUIRE_MESSAGE(Exists(path), "no demo build to start: ", path);
    ChildProcess program(Quoted(path));
    HWND window = program.WaitForWindow("Brantix ZYR");
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
