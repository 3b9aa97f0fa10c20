// The main dialog's procedure: start-up, the guarded close, the Help-key
// counter with its service entry on Read Device, and the buttons.
#include "app/main_window.h"

#include "app/choice_controls.h"
#include "app/controls.h"
#include "app/resource_ids.h"
#include "app/factory.h"
#include "app/table_edit_dialog.h"
#include "protocol/device_operations.h"

std::atomic<unsigned> helpPressCount{0};

namespace {

// Help presses before Read Device that open the factory format sequence.
constexpr unsigned serviceEntryPresses = 11;

const char closeWarning[] =
    "You should NEVER exit during USB activity,\nexiting now can corrupt the device,\ndo you want to exit anyway?";

// The system's automatic radio buttons uncheck only the visible, enabled
// members of their group. A radio that shows the image's value while hidden
// (1011 as "NOT USED", a table of the hidden two-wire box) must lose its
// check too when the user picks another, or the write would store the
// hidden choice instead of the one the user made.
template <typename Choice, size_t N> bool UncheckOthers(HWND dialog, const Choice (&group)[N], int clicked)
{
    bool member = false;
    for (const Choice &choice : group)
        member = member || choice.radio == clicked;
    if (!member || IsDlgButtonChecked(dialog, clicked) != BST_CHECKED)
        return member;
    for (const Choice &choice : group)
        if (choice.radio != clicked)
            CheckDlgButton(dialog, choice.radio, BST_UNCHECKED);
    return true;
}

void OpenTableEditor(HWND dialog, uint8_t tableOffset)
{
    editTableOffset = tableOffset;
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TABLE_EDIT), dialog, TableEditDialog, 0);
}

void OnCommand(HWND dialog, int id, int notification)
{
    switch (id) {
    case IDC_READ_DEVICE:
        if (helpPressCount == serviceEntryPresses) {
            helpPressCount = 0;
            RunFactoryFormat();  // makes its own busy test
        } else {
            OnReadDeviceButton();
        }
        return;
    case IDC_WRITE_DEVICE:
        OnWriteDeviceButton();
        return;
    case IDC_FACTORY_DEFAULTS:
        LoadFactoryDefaults(dialog);  // makes its own busy test
        return;
    default:
        break;
    }
    for (const TableControls &table : tableControls)
        if (table.editButton == id) {
            // The buttons are disabled while a worker runs; this second
            // guard keeps the editor off the image a running operation uses.
            if (!workerHandle)
                OpenTableEditor(dialog, table.offset);
            return;
        }
    if (notification == BN_CLICKED && !UncheckOthers(dialog, sensorRadios, id))
        UncheckOthers(dialog, tableControls, id);
    // Everything else, Enter (IDOK) and Escape (IDCANCEL) included, does nothing.
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        mainDialogHandle = dialog;
        SetDialogIcon(dialog);
        return TRUE;  // focus on the first enabled tab stop, Read Device
    case WM_CLOSE: {
        // A second close request while the question is open (it can still
        // arrive, posted) does not stack a second question on the first.
        static bool asking = false;
        if (asking)
            return FALSE;
        if (workerHandle) {
            asking = true;
            const int answer = MessageBoxA(dialog, closeWarning, "WARNING!", MB_YESNO | MB_ICONWARNING);
            asking = false;
            if (answer != IDYES)
                return FALSE;
        }
        EndDialog(dialog, 0);
        return TRUE;
    }
    case WM_HELP:
        helpPressCount = helpPressCount + 1;
        return FALSE;
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return FALSE;
    default:
        return FALSE;
    }
}
