#include "tests/vconv/real_dialog.h"

#include "app/resource_ids.h"
#include "tests/support/help_key.h"

#include <doctest.h>

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

void RealDialog::PressF1(int times) const { ::PressF1(window, times); }

bool RealDialog::WaitStatus(const std::string &prefix, DWORD timeoutMs) const
{
    return WaitForStatus(window, prefix, timeoutMs);
}

bool RealDialog::WaitIdle(DWORD timeoutMs) const { return WaitForIdle(window, timeoutMs); }

BoxView RealDialog::WaitBox(const std::string &caption, DWORD timeoutMs) const
{
    return WaitForBox(caption, timeoutMs, window, program->Id());
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
