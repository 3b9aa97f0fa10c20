// The built programs started as processes of their own, for the tests that
// run them as a user or a script would.
#pragma once

#include "base/no_copy.h"

#include <windows.h>

#include <string>

// A program built beside the tests' folders: <build>/app/<name>.
std::string ProgramPath(const char *name);

// A started program; ended by force if it still runs when this goes.
class ChildProcess : private NoCopy {
public:
    // Standard input reads NUL and standard output and error go to the
    // file `output` when it is given; otherwise the program inherits none.
    // Both are UTF-8, and reach the program as UTF-16.
    explicit ChildProcess(const std::string &commandLine, const std::string &output = "");
    ~ChildProcess();

    DWORD Id() const { return process.dwProcessId; }
    // True once the program has ended, waiting up to timeoutMs.
    bool Ended(DWORD timeoutMs) const;
    // Exit code, or STILL_ACTIVE when it has not ended in time.
    DWORD WaitForExit(DWORD timeoutMs = 60000) const;
    // A visible top-level window of this process with the caption; fails
    // the test when none shows in time or the program ends first.
    HWND WaitForWindow(const char *caption, DWORD timeoutMs = 30000) const;

private:
    void CloseFiles();

    PROCESS_INFORMATION process = {};
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE input = INVALID_HANDLE_VALUE;
};
