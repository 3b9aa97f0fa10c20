// Drives the real main dialog (template 101) as a user would, from the test
// thread, while the dialog runs modally on a UI thread of its own.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

std::string WindowText(HWND window);

// Waits, polling, until the status line of the main dialog `dialog` (of
// this process or another) starts with `prefix`.
bool WaitForStatus(HWND dialog, const std::string &prefix, DWORD timeoutMs = 30000);
// Waits until no operation of `dialog` runs: Read Device is enabled again
// (it is disabled for the whole of each operation) and stays so.
bool WaitForIdle(HWND dialog, DWORD timeoutMs = 30000);
// Presses `button` of `dialog` (posted, as a click is), then waits for the
// status line to start with `prefix` and for the operation to end; true
// when both came.
bool PressAndWait(HWND dialog, int button, const std::string &prefix);
std::string ClassOf(HWND window);
HICON StockIcon(LPCSTR id);

class DialogDriver {
public:
    // Starts DialogBoxParamA(template 101, MainDialogProc) on a new UI thread
    // and waits until the dialog exists. Records every text the status line
    // shows, in order.
    DialogDriver();
    // Closes the dialog (WM_CLOSE, answering any question with Yes) and
    // joins the UI thread.
    ~DialogDriver();

    HWND Dialog() const { return dialog; }
    HWND Item(int id) const { return GetDlgItem(dialog, id); }

    // User actions. Each is posted, as input is, and returns once the
    // dialog thread has dispatched it, also when it opened a modal box
    // (whose own message loop then dispatches the rest).
    // Click fails the test when the control is hidden or disabled: a user
    // could not click it. Command sends the button's WM_COMMAND regardless,
    // for the guards behind disabled buttons.
    void Click(int id);
    // Click, then waits until the operation it started has ended and the
    // dialog has shown its outcome.
    void ClickAndWait(int id);
    void Command(int id);
    void SetText(int id, const std::string &text) { SetDlgItemTextA(dialog, id, text.c_str()); }
    void PressF1(int times = 1);  // WM_HELP, as F1 on a control gives
    void Close() { PostMessageA(dialog, WM_CLOSE, 0, 0); }  // as the close box gives
    // Waits until the dialog thread has dispatched everything posted so far.
    void Sync();
    // True once the dialog has ended; its result then is Result().
    bool Ended(DWORD timeoutMs = 5000) { return WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0; }
    INT_PTR Result() const { return result; }

    // What the user sees.
    std::string Text(int id) const { return WindowText(Item(id)); }
    std::string Caption() const { return WindowText(dialog); }
    bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    bool Checked(int id) const { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
    std::vector<std::string> StatusHistory() const;
    void ClearStatusHistory();

    // Waits until no device operation runs (workerHandle is 0), pumping
    // nothing on this thread; fails the test after timeoutMs.
    bool WaitIdle(DWORD timeoutMs = 20000);

    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

private:
    static DWORD WINAPI UiThread(void *self);
    HANDLE thread = nullptr;
    HANDLE ready = nullptr;
    HWND dialog = nullptr;
    HANDLE synced = nullptr;
    INT_PTR result = 0;
};

// A message box (or any dialog of class #32770) as the user sees it.
struct BoxView {
    HWND window = nullptr;
    std::string caption;
    std::string text;
    std::vector<int> buttons;  // ids of the push buttons: IDOK, IDYES, ...
    bool topmost = false;
    HICON icon = nullptr;  // the icon shown, compare with LoadIcon(NULL, IDI_ERROR)
    HWND owner = nullptr;
};

// A visible top-level window of the process with this caption (any when
// empty) and window class (any when null), other than `except`.
HWND FindTopWindow(DWORD process, const std::string &caption, const char *className = nullptr, HWND except = nullptr);
// Waits up to timeoutMs for a visible top-level dialog of `process` with
// this caption (any caption when empty) other than `except`.
BoxView WaitForBox(const std::string &caption, DWORD timeoutMs = 10000, HWND except = nullptr,
                   DWORD process = GetCurrentProcessId());
// Presses a button of the box (IDOK, IDYES, IDNO, IDCANCEL) and waits until it is gone.
void PressBoxButton(const BoxView &box, int buttonId);
// True when no box with that caption appears within timeoutMs.
bool NoBox(const std::string &caption, DWORD timeoutMs = 300);
// Checks everything the user sees of a box; `icon` is a stock icon id
// (IDI_ERROR, ...).
void CheckBox(const BoxView &box, const std::string &caption, const std::string &text, const std::vector<int> &buttons,
              LPCSTR icon, bool topmost, HWND owner);

// Runs `call` on a thread of its own, as the worker runs a step that may
// show a modal box, and answers that box with its first button. Returns the
// box as the user saw it (window null when none showed).
BoxView RunAndAnswer(const std::function<void()> &call, HWND except);

// Clicks a button as a user would: fails the test when it is hidden or
// disabled. Returns at once; the click is dispatched by the window's thread.
void ClickButton(HWND button);
// A key as the keyboard delivers it to the focused control.
void PressKey(HWND control, WPARAM key);
// Waits until the window is closed or hidden.
bool WaitGone(HWND window, DWORD timeoutMs = 5000);
