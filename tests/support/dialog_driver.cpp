#include "tests/support/dialog_driver.h"

#include "app/main_window.h"
#include "app/resource_ids.h"
#include "protocol/device_operations.h"
#include "tests/support/help_key.h"
#include "tests/support/pump_until.h"

#include <doctest.h>

#include <mutex>

namespace {

constexpr UINT WM_DRIVER_SYNC = WM_APP + 0x3A1;

std::mutex historyLock;
std::vector<std::string> history;
WNDPROC statusProc = nullptr;
DialogDriver *current = nullptr;

LRESULT CALLBACK RecordStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT && lParam) {
        std::lock_guard<std::mutex> hold(historyLock);
        history.emplace_back(reinterpret_cast<const char *>(lParam));
    }
    return CallWindowProcA(statusProc, window, message, wParam, lParam);
}

}  // namespace

std::string WindowText(HWND window)
{
    char text[4096] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

bool WaitForStatus(HWND dialog, const std::string &prefix, DWORD timeoutMs)
{
    return PollUntil([&] { return WindowText(GetDlgItem(dialog, IDC_STATUS)).rfind(prefix, 0) == 0; }, timeoutMs, 2);
}

bool WaitForIdle(HWND dialog, DWORD timeoutMs)
{
    // The worker enables the controls as its last step but one; then it
    // only clears its busy flag: idle is enabled 25 times running.
    int steady = 0;
    return PollUntil(
        [&] {
            // Write Device comes back with Read Device, unless there is no
            // image to write.
            const bool back = IsWindowEnabled(GetDlgItem(dialog, IDC_READ_DEVICE)) &&
                              (IsWindowEnabled(GetDlgItem(dialog, IDC_WRITE_DEVICE)) ||
                               WindowText(GetDlgItem(dialog, IDC_STATUS)).rfind(" Read OK", 0) != 0);
            steady = back ? steady + 1 : 0;
            return steady >= 25;
        },
        timeoutMs, 4);
}

bool PressAndWait(HWND dialog, int button, const std::string &prefix)
{
    PostMessageA(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
    const bool shown = WaitForStatus(dialog, prefix);
    return WaitForIdle(dialog) && shown;
}

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

HICON StockIcon(LPCSTR id) { return LoadIconA(nullptr, id); }

void ClickButton(HWND button)
{
    REQUIRE_MESSAGE(button != nullptr, "no such button");
    CAPTURE(GetDlgCtrlID(button));
    REQUIRE_MESSAGE(IsWindowVisible(button), "the button is hidden");
    REQUIRE_MESSAGE(IsWindowEnabled(button), "the button is disabled");
    PostMessageA(button, BM_CLICK, 0, 0);
}

void PressKey(HWND control, WPARAM key)
{
    PostMessageA(control, WM_KEYDOWN, key, 1);
    PostMessageA(control, WM_KEYUP, key, 0xC0000001);
}

bool WaitGone(HWND window, DWORD timeoutMs)
{
    return PollUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs, 2);
}

// Transparent in front of MainDialogProc: notes the dialog, records the
// status line, and answers the sync marker.
INT_PTR CALLBACK DialogDriver::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DRIVER_SYNC) {
        SetEvent(reinterpret_cast<HANDLE>(lParam));
        return TRUE;
    }
    INT_PTR handled = MainDialogProc(dialog, message, wParam, lParam);
    if (message == WM_INITDIALOG && current) {
        current->dialog = dialog;
        statusProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(GetDlgItem(dialog, IDC_STATUS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordStatus)));
        SetEvent(current->ready);
    }
    return handled;
}

DWORD WINAPI DialogDriver::UiThread(void *self)
{
    auto *driver = static_cast<DialogDriver *>(self);
    driver->result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, Proc, 0);
    SetEvent(driver->ready);  // also when the dialog could not be created
    return 0;
}

DialogDriver::DialogDriver()
{
    ClearStatusHistory();
    current = this;
    ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    synced = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    thread = CreateThread(nullptr, 0, UiThread, this, 0, nullptr);
    REQUIRE(WaitForSingleObject(ready, 10000) == WAIT_OBJECT_0);
    REQUIRE(dialog != nullptr);
    // WM_INITDIALOG comes before the dialog is shown: wait until a user
    // could see it, so that Click finds its controls visible.
    REQUIRE(PollUntil([&] { return IsWindowVisible(dialog) != FALSE; }, 5000, 5));
}

DialogDriver::~DialogDriver()
{
    WaitIdle();
    // Dismiss whatever box a failed test left behind, then close.
    for (int round = 0; round < 20 && IsWindow(dialog); ++round) {
        BoxView box = WaitForBox("", 50, dialog);
        if (!box.window)
            break;
        for (int id : {IDCANCEL, IDNO, IDOK}) {
            for (int b : box.buttons)
                if (b == id) {
                    PressBoxButton(box, id);
                    goto next;
                }
        }
        PostMessageA(box.window, WM_CLOSE, 0, 0);
        Sleep(20);
    next:;
    }
    if (IsWindow(dialog)) {
        Close();
        BoxView warning = WaitForBox("WARNING!", 200, dialog);
        if (warning.window)
            PressBoxButton(warning, IDYES);
    }
    if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0)
        FAIL("the main dialog did not end");
    CloseHandle(thread);
    CloseHandle(ready);
    CloseHandle(synced);
    current = nullptr;
}

void DialogDriver::Sync()
{
    if (!IsWindow(dialog))
        return;
    ResetEvent(synced);
    PostMessageA(dialog, WM_DRIVER_SYNC, 0, reinterpret_cast<LPARAM>(synced));
    CHECK_MESSAGE(WaitForSingleObject(synced, 10000) == WAIT_OBJECT_0, "dialog thread did not answer");
}

void DialogDriver::Click(int id)
{
    ClickButton(Item(id));
    Sync();
}

void DialogDriver::ClickAndWait(int id)
{
    Click(id);
    REQUIRE(WaitIdle());
    Sync();
}

void DialogDriver::Command(int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
    Sync();
}

void DialogDriver::PressF1(int times) { ::PressF1(dialog, times); }

std::vector<std::string> DialogDriver::StatusHistory() const
{
    std::lock_guard<std::mutex> hold(historyLock);
    return history;
}

void DialogDriver::ClearStatusHistory()
{
    std::lock_guard<std::mutex> hold(historyLock);
    history.clear();
}

bool DialogDriver::WaitIdle(DWORD timeoutMs)
{
    if (PollUntil([] { return workerHandle == nullptr; }, timeoutMs, 2))
        return true;
    FAIL_CHECK("the device operation did not end within ", timeoutMs, " ms");
    return false;
}

namespace {

BOOL CALLBACK ReadBoxChild(HWND child, LPARAM param)
{
    auto *box = reinterpret_cast<BoxView *>(param);
    std::string cls = ClassOf(child);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (_stricmp(cls.c_str(), "Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON)
            box->icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        else if (!WindowText(child).empty())
            box->text += WindowText(child);
    } else if (_stricmp(cls.c_str(), "Button") == 0 && (style & WS_VISIBLE)) {
        box->buttons.push_back(GetDlgCtrlID(child));
    }
    return TRUE;
}

}  // namespace

HWND FindTopWindow(DWORD process, const std::string &caption, const char *className, HWND except)
{
    for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, nullptr, nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process && window != except && IsWindowVisible(window) &&
            (!className || ClassOf(window) == className) && (caption.empty() || WindowText(window) == caption))
            return window;
    }
    return nullptr;
}

BoxView WaitForBox(const std::string &caption, DWORD timeoutMs, HWND except, DWORD process)
{
    BoxView box;
    if (!PollUntil([&] { return (box.window = FindTopWindow(process, caption, "#32770", except)) != nullptr; },
                   timeoutMs, 5))
        return box;
    // Its texts are set before it is shown.
    box.caption = WindowText(box.window);
    box.topmost = (GetWindowLongA(box.window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    box.owner = GetWindow(box.window, GW_OWNER);
    EnumChildWindows(box.window, ReadBoxChild, reinterpret_cast<LPARAM>(&box));
    return box;
}

void PressBoxButton(const BoxView &box, int buttonId)
{
    HWND button = GetDlgItem(box.window, buttonId);
    REQUIRE_MESSAGE(button != nullptr, "the box \"", box.caption, "\" has no button ", buttonId);
    PostMessageA(button, BM_CLICK, 0, 0);
    CHECK_MESSAGE(WaitGone(box.window), "the box \"", box.caption, "\" did not close");
}

bool NoBox(const std::string &caption, DWORD timeoutMs) { return WaitForBox(caption, timeoutMs).window == nullptr; }

void CheckBox(const BoxView &box, const std::string &caption, const std::string &text, const std::vector<int> &buttons,
              LPCSTR icon, bool topmost, HWND owner)
{
    REQUIRE_MESSAGE(box.window != nullptr, "no box \"", caption, "\" saying \"", text, "\"");
    CHECK(box.caption == caption);
    CHECK(box.text == text);
    CHECK(box.buttons == buttons);
    CHECK(box.icon == StockIcon(icon));
    CHECK(box.topmost == topmost);
    CHECK(box.owner == owner);
}

namespace {

DWORD WINAPI RunCall(void *call)
{
    (*static_cast<const std::function<void()> *>(call))();
    return 0;
}

}  // namespace

BoxView RunAndAnswer(const std::function<void()> &call, HWND except)
{
    BoxView seen;
    HANDLE thread = CreateThread(nullptr, 0, RunCall, const_cast<std::function<void()> *>(&call), 0, nullptr);
    REQUIRE(thread != nullptr);
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(thread, 5) == WAIT_TIMEOUT) {
        if (!seen.window) {
            seen = WaitForBox("", 0, except);
            if (seen.window)
                PressBoxButton(seen, seen.buttons.empty() ? IDOK : seen.buttons.front());
        }
        if (GetTickCount() - start > 10000) {
            FAIL_CHECK("the call did not return");
            break;
        }
    }
    CloseHandle(thread);
    return seen;
}
