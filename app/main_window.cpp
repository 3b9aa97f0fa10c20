// The routines through which the rest of the program talks to the user:
// the status line, the error box and the application icon.
#include "app/main_window.h"

#include "app/resource_ids.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

HWND mainDialogHandle = nullptr;

namespace {

// Both texts are formatted into this many characters, terminator included;
// a longer message is cut to fit.
constexpr size_t messageBufferSize = 260;

// Some systems' message boxes drop MB_TOPMOST. While a topmost box is up,
// this hook on the calling thread raises the box above every window when it
// is first activated, so the box never hides behind another program.
LRESULT CALLBACK RaiseBox(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char className[16] = {};
        GetClassNameA(box, className, sizeof className);
        if (std::strcmp(className, "#32770") == 0 && !(GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST))
            SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void StatusLine(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    StatusLineV(format, arguments);
    va_end(arguments);
}

void StatusLineV(const char *format, va_list arguments)
{
    char text[messageBufferSize] = {' '};
    std::vsnprintf(text + 1, sizeof text - 1, format ? format : "", arguments);
    // From the worker this is a message sent to the dialog thread; with no
    // dialog (yet, or any more) it fails and changes nothing.
    SetDlgItemTextA(mainDialogHandle, IDC_STATUS, text);
}

void ErrorBox(HWND owner, const char *format, ...)
{
    char text[messageBufferSize] = {};
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format ? format : "", arguments);
    va_end(arguments);
    TopmostBox(owner, text, "Error", MB_OK | MB_ICONERROR);
}

int TopmostBox(HWND owner, const char *text, const char *caption, UINT type)
{
    HHOOK raise = SetWindowsHookExA(WH_CBT, RaiseBox, nullptr, GetCurrentThreadId());
    const int answer = MessageBoxA(owner, text, caption, type | MB_TOPMOST);
    if (raise)
        UnhookWindowsHookEx(raise);
    return answer;
}

void SetDialogIcon(HWND dialog)
{
    // One handle, at the system's standard size, serves as big and small icon.
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}
