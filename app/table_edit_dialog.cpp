#include "app/table_edit_dialog.h"

#include "app/main_window.h"
#include "app/resource_ids.h"
#include "config/config_image.h"
#include "config/converter_choices.h"
#include "config/table_text.h"

#include <commctrl.h>

#include <cstdlib>
#include <string>

namespace {

void *ZeroedText(size_t count, size_t size) { return std::calloc(count, size); }

// A multi-line edit inside a dialog may turn Escape into WM_CLOSE for its
// dialog, which would end the editor and drop the user's text. Escape in the
// text does nothing, as it does elsewhere in the editor.
LRESULT CALLBACK IgnoreEscape(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if ((message == WM_KEYDOWN && wParam == VK_ESCAPE) || (message == WM_CHAR && wParam == 27))
        return 0;
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(edit, IgnoreEscape, 0);
    return DefSubclassProc(edit, message, wParam, lParam);
}

}  // namespace

uint8_t editTableOffset = 0;
void *(*allocateTableText)(size_t count, size_t size) = ZeroedText;

INT_PTR CALLBACK TableEditDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDialogIcon(dialog);
        SetWindowSubclass(GetDlgItem(dialog, IDC_TABLE_TEXT), IgnoreEscape, 0, 0);
        if (!FillTableText(dialog)) {
            EndDialog(dialog, 0);
            return FALSE;
        }
        return TRUE;
    case WM_COMMAND:
        // Enter and Escape arrive as ids 1 and 2, which this dialog does not
        // have: neither closes it, so a stray key never loses an edit.
        switch (LOWORD(wParam)) {
        case IDC_TABLE_OK:
            if (ParseTableText(dialog))
                EndDialog(dialog, 0);
            return FALSE;
        case IDC_TABLE_CANCEL:
            EndDialog(dialog, 0);
            return FALSE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

bool FillTableText(HWND dialog)
{
    // Any other offset keeps the template's "Temperature Table Edit".
    SetWindowTextA(dialog, TableCaption(editTableOffset).c_str());

    std::string text;
    if (!BuildTableText(ConfigImage, editTableOffset, text)) {
        ErrorBox(dialog, "AP Table Data is NOT valid; 0x%X", ConfigImage.Byte(editTableOffset));
        return false;
    }
    SetDlgItemTextA(dialog, IDC_TABLE_TEXT, text.c_str());
    return true;
}

bool ParseTableText(HWND dialog)
{
    const int length = GetWindowTextLengthA(GetDlgItem(dialog, IDC_TABLE_TEXT));
    if (length <= 0) {
        TopmostBox(dialog, "No Data found!", "No Data", MB_OK | MB_ICONWARNING);
        return false;
    }
    char *text = static_cast<char *>(allocateTableText(static_cast<size_t>(length) + 1, 1));
    if (!text) {
        TopmostBox(dialog, "Memory Alloc Failed", "Memory Error", MB_OK | MB_ICONERROR);
        return false;
    }
    GetDlgItemTextA(dialog, IDC_TABLE_TEXT, text, length + 1);
    const TableTextOutcome outcome = ParseTableLines(ConfigImage, editTableOffset, text);
    std::free(text);

    switch (outcome.problem) {
    case TableTextProblem::None:
        StoreTableMillivolts(ConfigImage, editTableOffset, outcome);
        return true;
    case TableTextProblem::NoData:
        TopmostBox(dialog, "No Data found!", "No Data", MB_OK | MB_ICONWARNING);
        return false;
    default:
        ErrorBox(dialog, "%s", TableTextMessage(outcome).c_str());
        return false;
    }
}
