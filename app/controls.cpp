// Keeping the main dialog's controls and the configuration image in step.
// Every call here works through mainDialogHandle, so from the worker each
// control access is a message the dialog thread handles.
#include "app/controls.h"

#include "app/main_window.h"
#include "app/resource_ids.h"
#include "settings/speed_text.h"
#include "config/config_image.h"

#include <initializer_list>

std::atomic<int> highToLowUnlocked{0};

namespace {

struct TableChoice {
    int radio;
    uint8_t wiring;
    uint8_t table;
};

// In the order ControlsToImage tests them.
constexpr TableChoice tableChoices[] = {
    {IDC_TABLE_AP1_RES, 0, layout::tableAp1Res},
    {IDC_TABLE_AP2_RES, 0, layout::tableAp2Res},
    {IDC_TABLE_AP1_5V, 1, layout::tableAp1_5V},
    {IDC_TABLE_AP2_5V, 1, layout::tableAp2_5V},
};

struct SensorChoice {
    int radio;
    uint16_t code;
};

constexpr SensorChoice sensorChoices[] = {
    {IDC_SENSOR_HIGH_TO_LOW, layout::sensorHighToLow},
    {IDC_SENSOR_LOW_FREQ, layout::sensorLowFreq},
    {IDC_SENSOR_HIGH_FREQ, layout::sensorHighFreq},
};

void Show(HWND dialog, int id, bool shown)
{
    ShowWindow(GetDlgItem(dialog, id), shown ? SW_SHOW : SW_HIDE);
}

void Enable(HWND dialog, int id, bool enabled)
{
    EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE);
}

void ShowAndEnable(HWND dialog, int id)
{
    Show(dialog, id, true);
    Enable(dialog, id, true);
}

// Hidden, disabled and, for a radio, unchecked.
void Clear(HWND dialog, int id, bool radio)
{
    Show(dialog, id, false);
    Enable(dialog, id, false);
    if (radio)
        CheckDlgButton(dialog, id, BST_UNCHECKED);
}

void ClearAll(HWND dialog)
{
    for (int id : {IDC_SENSOR_HIGH_TO_LOW, IDC_SENSOR_LOW_FREQ, IDC_SENSOR_HIGH_FREQ})
        Clear(dialog, id, true);
    Show(dialog, IDC_SINGLE_WIRE_GROUP, false);
    Clear(dialog, IDC_TABLE_AP1_RES, true);
    Clear(dialog, IDC_TABLE_AP2_RES, true);
    Clear(dialog, IDC_EDIT_AP1_RES, false);
    Clear(dialog, IDC_EDIT_AP2_RES, false);
    Show(dialog, IDC_TWO_WIRE_GROUP, false);
    Clear(dialog, IDC_TABLE_AP1_5V, true);
    Clear(dialog, IDC_TABLE_AP2_5V, true);
    Clear(dialog, IDC_EDIT_AP1_5V, false);
    Clear(dialog, IDC_EDIT_AP2_5V, false);
    for (int id : {IDC_READ_DEVICE, IDC_WRITE_DEVICE, IDC_FACTORY_DEFAULTS, IDC_SPEED_ADJUST})
        Enable(dialog, id, false);
}

void CheckRadioFor(HWND dialog, uint16_t sensorCode)
{
    for (const SensorChoice &choice : sensorChoices)
        if (choice.code == sensorCode) {
            CheckDlgButton(dialog, choice.radio, BST_CHECKED);  // also while hidden
            return;
        }
}

void CheckTableFor(HWND dialog, uint8_t activeTable)
{
    for (const TableChoice &choice : tableChoices)
        if (choice.table == activeTable) {
            CheckDlgButton(dialog, choice.radio, BST_CHECKED);  // also in a hidden box
            return;
        }
}

void ShowVssEctChoices(HWND dialog)
{
    Enable(dialog, IDC_SPEED_ADJUST, true);
    if (highToLowUnlocked) {
        SetDlgItemTextA(dialog, IDC_SENSOR_HIGH_TO_LOW, "High to Low");
        ShowAndEnable(dialog, IDC_SENSOR_HIGH_TO_LOW);
    } else {
        SetDlgItemTextA(dialog, IDC_SENSOR_HIGH_TO_LOW, "NOT USED");  // stays hidden and disabled
    }
    SetDlgItemTextA(dialog, IDC_SENSOR_LOW_FREQ, "Low Freq (Gear Driven)");
    SetDlgItemTextA(dialog, IDC_SENSOR_HIGH_FREQ, "High Freq (Magnetic)");
    ShowAndEnable(dialog, IDC_SENSOR_LOW_FREQ);
    ShowAndEnable(dialog, IDC_SENSOR_HIGH_FREQ);

    Show(dialog, IDC_SINGLE_WIRE_GROUP, true);
    for (int id : {IDC_TABLE_AP1_RES, IDC_TABLE_AP2_RES, IDC_EDIT_AP1_RES, IDC_EDIT_AP2_RES})
        ShowAndEnable(dialog, id);
    // Only firmware 12300 has the two-wire sensor's tables.
    if (ConfigImage.FirmwareVersion() == layout::firmware12300) {
        Show(dialog, IDC_TWO_WIRE_GROUP, true);
        for (int id : {IDC_TABLE_AP1_5V, IDC_TABLE_AP2_5V, IDC_EDIT_AP1_5V, IDC_EDIT_AP2_5V})
            ShowAndEnable(dialog, id);
    }
    CheckTableFor(dialog, ConfigImage.ActiveTable());
}

void ShowVssChoices(HWND dialog)
{
    Enable(dialog, IDC_SPEED_ADJUST, true);
    SetDlgItemTextA(dialog, IDC_SENSOR_HIGH_TO_LOW, "RSX");
    SetDlgItemTextA(dialog, IDC_SENSOR_LOW_FREQ, "S2K");
    SetDlgItemTextA(dialog, IDC_SENSOR_HIGH_FREQ, "General");
    for (int id : {IDC_SENSOR_HIGH_TO_LOW, IDC_SENSOR_LOW_FREQ, IDC_SENSOR_HIGH_FREQ})
        ShowAndEnable(dialog, id);
}

// The control that had the keyboard focus when a refresh began, and whether
// the dialog was active then; hiding or disabling a control takes the focus
// away from it.
struct FocusBefore {
    HWND control = nullptr;
    bool active = false;
};

// Kept across refreshes: the busy refresh disables the focused button, and
// the refresh at the end of the operation gives the focus back to it.
HWND focusBeforeBusy = nullptr;

FocusBefore NoteFocus(HWND dialog)
{
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    FocusBefore focus;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread))
        return focus;
    focus.active = thread.hwndActive == dialog;
    if (thread.hwndFocus && IsChild(dialog, thread.hwndFocus))
        focus.control = thread.hwndFocus;
    return focus;
}

bool Usable(HWND control)
{
    return control && IsWindowVisible(control) && IsWindowEnabled(control);
}

// Without this a keyboard user would be left with the focus on a disabled
// or hidden control, unable to reach a button: the focus goes back to the
// control that had it, or else to the first usable tab stop.
void RestoreFocus(HWND dialog, const FocusBefore &before)
{
    if (!before.active)
        return;  // the dialog's own activation restores its focus
    HWND target = nullptr;
    if (Usable(before.control))
        target = before.control;
    else if (Usable(focusBeforeBusy))
        target = focusBeforeBusy;
    else
        target = GetNextDlgTabItem(dialog, nullptr, FALSE);
    focusBeforeBusy = nullptr;
    if (!Usable(target))
        return;
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread);
    if (thread.hwndFocus != target)
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
}

} // namespace

void RefreshControls(int mode)
{
    HWND dialog = mainDialogHandle;
    const FocusBefore focus = NoteFocus(dialog);
    ClearAll(dialog);
    if (mode == RefreshBusy) {
        if (focus.control)
            focusBeforeBusy = focus.control;
        return;  // every input disabled, every choice hidden; the edit keeps its text
    }

    Enable(dialog, IDC_READ_DEVICE, true);
    if (mode != RefreshNoData) {
        char speed[16];
        FormatSpeedAdjust(ConfigImage.SpeedAdjust(), speed, sizeof speed);
        SetDlgItemTextA(dialog, IDC_SPEED_ADJUST, speed);
        CheckRadioFor(dialog, ConfigImage.SpeedSensorCode());

        const uint16_t type = ConfigImage.FirmwareType();
        if (type == 1 || type == layout::typeVssEct)
            ShowVssEctChoices(dialog);
        else if (type == layout::typeVss)
            ShowVssChoices(dialog);

        Enable(dialog, IDC_WRITE_DEVICE, true);
        Enable(dialog, IDC_FACTORY_DEFAULTS, true);
    }
    RestoreFocus(dialog, focus);
}

int ControlsToImage()
{
    HWND dialog = mainDialogHandle;
    char text[10] = {};  // a longer text is cut to its first 9 characters
    GetDlgItemTextA(dialog, IDC_SPEED_ADJUST, text, sizeof text);
    int tenths = 0;
    if (!ParseSpeedAdjust(text, tenths)) {
        ErrorBox(dialog, "Speed Adjustment value is out of range!");
        return 0;
    }
    ConfigImage.SetWord(layout::speedAdjust, EncodeSpeedAdjust(tenths));

    // Check marks only: a radio checked while hidden keeps its value.
    for (const SensorChoice &choice : sensorChoices)
        if (IsDlgButtonChecked(dialog, choice.radio) == BST_CHECKED) {
            ConfigImage.SetWord(layout::speedSensorCode, choice.code);
            break;
        }
    for (const TableChoice &choice : tableChoices)
        if (IsDlgButtonChecked(dialog, choice.radio) == BST_CHECKED) {
            ConfigImage.SetByte(layout::sensorWiring, choice.wiring);
            ConfigImage.SetByte(layout::activeTable, choice.table);
            break;
        }
    return 1;
}
