// Keeping the main dialog's controls and the configuration image in step.
// Every call here works through mainDialogHandle, so from the worker each
// control access is a message the dialog thread handles.
#include "app/controls.h"

#include "app/main_window.h"
#include "app/resource_ids.h"
#include "app/speed_text.h"
#include "config/config_image.h"

#include <initializer_list>

volatile int highToLowUnlocked = 0;

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

// Disabling the control that has the keyboard focus leaves the dialog with
// none, and a keyboard user could not reach a button again. When the
// controls come back, the focus goes to the first enabled tab stop.
void KeepKeyboardFocus(HWND dialog)
{
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread) || thread.hwndActive != dialog)
        return;
    HWND focus = thread.hwndFocus;
    if (focus && focus != dialog && IsChild(dialog, focus) && IsWindowVisible(focus) && IsWindowEnabled(focus))
        return;
    HWND next = GetNextDlgTabItem(dialog, nullptr, FALSE);
    if (next && IsWindowEnabled(next))
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
}

} // namespace

void RefreshControls(int mode)
{
    HWND dialog = mainDialogHandle;
    ClearAll(dialog);
    if (mode == RefreshBusy)
        return;  // every input disabled, every choice hidden; the edit keeps its text

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
    KeepKeyboardFocus(dialog);
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
