// The shipped zyr.exe as a process of its own, driven from the test process
// as a user drives it: clicks and typed text are posted to its controls,
// and what it shows (status line, control states, its message boxes) is
// read back across the process boundary. Every wait is bounded.
#pragma once

#include "tests/support/child_process.h"
#include "tests/support/dialog_driver.h"

#include <windows.h>

#include <memory>
#include <string>

// A control's text as its own process holds it (WM_GETTEXT: an edit
// control of another process keeps its text to itself).
std::string ControlText(HWND control);

class RealDialog {
public:
    // Starts zyr.exe and waits for its main window.
    RealDialog();
    // Closes it as the close box does, answering the close question with
    // Yes if it comes, and waits for the process to end.
    ~RealDialog();

    HWND Window() const { return window; }
    HWND Item(int id) const { return GetDlgItem(window, id); }
    DWORD ProcessId() const { return program->Id(); }

    std::string Text(int id) const { return ControlText(Item(id)); }
    std::string Status() const;
    bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    bool Checked(int id) const;

    // A click a user could make: fails the test on a hidden or disabled
    // button. Returns at once.
    void Click(int id) const { ClickButton(Item(id)); }
    void SetText(int id, const std::string &text) const;
    // F1 on a control, as many times: the Help presses the dialog counts.
    void PressF1(int times) const;

    // Waits until the status line starts with `prefix`.
    bool WaitStatus(const std::string &prefix, DWORD timeoutMs = 30000) const;
    // Waits until no operation runs: Read Device is enabled again (it is
    // disabled for the whole of each operation) and stays so.
    bool WaitIdle(DWORD timeoutMs = 30000) const;
    // A visible dialog box of the program with this caption.
    BoxView WaitBox(const std::string &caption, DWORD timeoutMs = 10000) const;
    bool NoBox(const std::string &caption, DWORD timeoutMs = 300) const;

    // Asks the program to close; the exit code, STILL_ACTIVE if it did not
    // end in time.
    DWORD CloseAndWait(DWORD timeoutMs = 30000);

private:
    std::unique_ptr<ChildProcess> program;
    HWND window = nullptr;
};
