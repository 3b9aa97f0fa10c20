#include "tests/vconv/real_dialog.h"

#include "app/resource_ids.h"

#include <doctest.h>

namespace {

BOOL CALLBACK ReadChild(HWND child, LPARAM param)
{
    auto *box = reinterpret_cast<BoxView *>(param);
    const std::string cls = ClassOf(child);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (_stricmp(cls.c_str(), "Static") == 0) {
        if ((style & SS_TYPEMASK) != SS_ICON)
            box->text += WindowText(child);
    } else if (_stricmp(cls.c_str(), "Button") == 0 && (style & WS_VISIBLE)) {
        box->buttons.push_back(GetDlgCtrlID(child));
    }
    return TRUE;
}

}  // namespace

std::string ControlText(HWND control)
{
    static char text[8192];
    DWORD_PTR length = 0;
    text[0] = 0;
    if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                             &length))
        return "";
    return std::string(text, length < sizeof text ? length : 0);
}

RealDialog::RealDialog()
{
    program.reset(new ChildProcess("\"" + ProgramPath("zyr.exe") + "\""));
    window = program->WaitForWindow("Brantix ZYR");
}

RealDialog::~RealDialog()
{
    if (!program->Ended(0))
        CHECK(CloseAndWait() == 0);
}

std::string RealDialog::Status() const { return Text(IDC_STATUS); }

bool RealDialog::Checked(int id) const { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void RealDialog::SetText(int id, const std::string &text) const
{
    SendMessageA(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void RealDialog::PressF1(int times) const
{
    // What the system sends for F1: WM_HELP, which it carries across
    // processes with its HELPINFO.
    for (int i = 0; i < times; ++i) {
        HELPINFO info = {};
        info.cbSize = sizeof info;
        info.iContextType = HELPINFO_WINDOW;
        info.iCtrlId = IDC_READ_DEVICE;
        info.hItemHandle = Item(IDC_READ_DEVICE);
        SendMessageA(window, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    }
}

bool RealDialog::WaitStatus(const std::string &prefix, DWORD timeoutMs) const
{
    const DWORD start = GetTickCount();
    do {
        if (Status().rfind(prefix, 0) == 0)
            return true;
        Sleep(2);
    } while (GetTickCount() - start < timeoutMs);
    return false;
}

bool RealDialog::WaitIdle(DWORD timeoutMs) const
{
    const DWORD start = GetTickCount();
    int steady = 0;
    // The worker enables the controls as its last step but one; then it
    // only clears its busy flag.
    while (steady < 25) {
        // Write Device comes back with Read Device, unless there is no
        // image to write.
        const bool back = Enabled(IDC_READ_DEVICE) && (Enabled(IDC_WRITE_DEVICE) || Status().rfind(" Read OK", 0) != 0);
        steady = back ? steady + 1 : 0;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(4);
    }
    return true;
}

BoxView RealDialog::WaitBox(const std::string &caption, DWORD timeoutMs) const
{
    BoxView box;
    const DWORD start = GetTickCount();
    for (;;) {
        box.window = FindTopWindow(program->Id(), caption, "#32770", window);
        if (box.window) {
            // Its texts are set before it is shown.
            box.caption = WindowText(box.window);
            box.topmost = (GetWindowLongA(box.window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
            box.owner = GetWindow(box.window, GW_OWNER);
            EnumChildWindows(box.window, ReadChild, reinterpret_cast<LPARAM>(&box));
            return box;
        }
        if (GetTickCount() - start >= timeoutMs)
            return box;
        Sleep(5);
    }
}

bool RealDialog::NoBox(const std::string &caption, DWORD timeoutMs) const
{
    return WaitBox(caption, timeoutMs).window == nullptr;
}

DWORD RealDialog::CloseAndWait(DWORD timeoutMs)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
    const DWORD start = GetTickCount();
    while (!program->Ended(20) && GetTickCount() - start < timeoutMs) {
        BoxView warning = WaitBox("WARNING!", 0);
        if (warning.window) {
            FAIL_CHECK("closing asked the close question: an operation still ran");
            PostMessageA(GetDlgItem(warning.window, IDYES), BM_CLICK, 0, 0);
        }
    }
    return program->WaitForExit(0);
}
