#include "tests/support/child_process.h"

#include "tests/support/dialog_driver.h"

#include <doctest.h>

namespace {

// Command lines and file names may be in any script: given to the wide
// functions, as a user's shell would.
std::wstring Wide(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
    return wide;
}

}  // namespace

std::string ProgramPath(const char *name)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path);
    for (int up = 0; up < 3; ++up)  // the test program, tests\<suite>, tests
        folder.erase(folder.find_last_of("\\/"));
    return folder + "\\app\\" + name;
}

ChildProcess::ChildProcess(const std::string &commandLine, const std::string &output)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    const bool redirected = !output.empty();
    if (redirected) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        file = CreateFileW(Wide(output).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        input = CreateFileA("NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            CloseFiles();
        REQUIRE_MESSAGE(file != INVALID_HANDLE_VALUE, "cannot create ", output);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = file;
        startup.hStdError = file;
    }
    std::wstring line = Wide(commandLine);
    line.push_back(L'\0');
    const BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, redirected ? TRUE : FALSE, 0, nullptr,
                                        nullptr, &startup, &process);
    if (!started)
        CloseFiles();  // the destructor does not run when this fails
    REQUIRE_MESSAGE(started, "cannot start ", commandLine);
}

ChildProcess::~ChildProcess()
{
    if (process.hProcess) {
        if (!Ended(0)) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 10000);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseFiles();
}

void ChildProcess::CloseFiles()
{
    for (HANDLE *handle : {&file, &input}) {
        if (*handle != INVALID_HANDLE_VALUE)
            CloseHandle(*handle);
        *handle = INVALID_HANDLE_VALUE;
    }
}

bool ChildProcess::Ended(DWORD timeoutMs) const
{
    return WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_TIMEOUT;
}

DWORD ChildProcess::WaitForExit(DWORD timeoutMs) const
{
    WaitForSingleObject(process.hProcess, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &code);
    return code;
}

HWND ChildProcess::WaitForWindow(const char *caption, DWORD timeoutMs) const
{
    const DWORD start = GetTickCount();
    HWND window = nullptr;
    while (!window && GetTickCount() - start < timeoutMs && !Ended(50))
        window = FindTopWindow(process.dwProcessId, caption);
    REQUIRE_MESSAGE(window != nullptr, "no window \"", caption, "\"");
    return window;
}
