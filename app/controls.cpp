// Keeping the main dialog's controls and the configuration image in step.
// Every call here works through mainDialogHandle, so from the worker each
// control access is a message the dialog thread handles.
#include "app/controls.h"

#include "app/choice_controls.h"
#include "app/main_window.h"
#include "app/resource_ids.h"
#include "config/config_image.h"
#include "config/converter_choices.h"
#include "settings/speed_text.h"

#include <initializer_list>

std::atomic<int> highToLowUnlocked{0};

namespace {

void Show(HWND dialog, int id, bool shown) { ShowWindow(GetDlgItem(dialog, id), shown ? SW_SHOW : SW_HIDE); }

void Enable(HWND dialog, int id, bool enabled) { EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE); }

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
    for (const SensorRadio &sensor : sensorRadios)
        Clear(dialog, sensor.radio, true);
    Show(dialog, IDC_SINGLE_WIRE_GROUP, false);
    Show(dialog, IDC_TWO_WIRE_GROUP, false);
    for (const TableControls &table : tableControls) {
        Clear(dialog, table.radio, true);
        Clear(dialog, table.editButton, false);
    }
    for (int id : {IDC_READ_DEVICE, IDC_WRITE_DEVICE, IDC_FACTORY_DEFAULTS, IDC_SPEED_ADJUST})
        Enable(dialog, id, false);
}

void CheckRadioFor(HWND dialog, uint16_t sensorCode)
{
    for (const SensorRadio &sensor : sensorRadios)
        if (sensor.code == sensorCode) {
            CheckDlgButton(dialog, sensor.radio, BST_CHECKED);  // also while hidden
            return;
        }
}

void CheckTableFor(HWND dialog, uint8_t activeTable)
{
    for (const TableControls &table : tableControls)
        if (table.offset == activeTable) {
            CheckDlgButton(dialog, table.radio, BST_CHECKED);  // also in a hidden box
            return;
        }
}

// The type's labels on the three sensor radios, all shown, except that on
// a VSS+ECT unit the high-to-low radio stays hidden and disabled as "NOT
// USED" until the service entry unlocks it.
void ShowSensorChoices(HWND dialog, uint16_t type)
{
    for (const SensorRadio &radio : sensorRadios) {
        SensorInfo sensor{};
        if (!FindSensorByCode(type, radio.code, sensor))
            continue;
        if (TypeHasTables(type) && radio.code == layout::sensorHighToLow && !highToLowUnlocked) {
            SetDlgItemTextA(dialog, radio.radio, "NOT USED");
            continue;
        }
        SetDlgItemTextA(dialog, radio.radio, sensor.label);
        ShowAndEnable(dialog, radio.radio);
    }
}

// The tables the firmware has, each with its Edit button, in their boxes:
// only firmware 12300 has the two-wire sensor's tables.
void ShowTableChoices(HWND dialog)
{
    const uint16_t version = ConfigImage.FirmwareVersion();
    Show(dialog, IDC_SINGLE_WIRE_GROUP, true);
    if (version == layout::firmware12300)
        Show(dialog, IDC_TWO_WIRE_GROUP, true);
    for (const TableControls &controls : tableControls) {
        const TableInfo *table = FindTableByOffset(controls.offset);
        if (table && TableOnFirmware(*table, version)) {
            ShowAndEnable(dialog, controls.radio);
            ShowAndEnable(dialog, controls.editButton);
        }
    }
    CheckTableFor(dialog, ConfigImage.ActiveTable());
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

bool Usable(HWND control) { return control && IsWindowVisible(control) && IsWindowEnabled(control); }

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

}  // namespace

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
        if (TypeHasTables(type) || type == layout::typeVss) {
            Enable(dialog, IDC_SPEED_ADJUST, true);
            ShowSensorChoices(dialog, type);
        }
        if (TypeHasTables(type))
            ShowTableChoices(dialog);

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
    for (const SensorRadio &sensor : sensorRadios)
        if (IsDlgButtonChecked(dialog, sensor.radio) == BST_CHECKED) {
            ConfigImage.SetWord(layout::speedSensorCode, sensor.code);
            break;
        }
    for (const TableControls &controls : tableControls)
        if (IsDlgButtonChecked(dialog, controls.radio) == BST_CHECKED) {
            if (const TableInfo *table = FindTableByOffset(controls.offset))
                ConfigImage.SetByte(layout::sensorWiring, table->wiring);
            ConfigImage.SetByte(layout::activeTable, controls.offset);
            break;
        }
    return 1;
}
