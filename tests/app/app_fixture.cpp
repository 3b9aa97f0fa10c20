#include "tests/app/app_fixture.h"

#include "app/controls.h"
#include "app/main_window.h"
#include "app/resource_ids.h"
#include "config/config_image.h"

#include <doctest.h>

AppFixture::AppFixture()
{
    helpPressCount = 0;
    highToLowUnlocked = 0;
    ConfigImage.Erase();
}

void SetImage(const ImageFields &fields)
{
    ConfigImage.Erase();
    ConfigImage.SetWord(layout::firmwareVersion, fields.version);
    ConfigImage.SetWord(layout::firmwareType, fields.type);
    ConfigImage.SetByte(layout::sensorWiring, fields.sensorWiring);
    ConfigImage.SetWord(layout::speedAdjust, fields.speedAdjust);
    ConfigImage.SetWord(layout::speedSensorCode, fields.speedSensorCode);
    ConfigImage.SetByte(layout::activeTable, fields.activeTable);
}

void Refresh(DialogDriver &driver, int mode)
{
    RefreshControls(mode);
    driver.Sync();
}

void ShowImage(DialogDriver &driver, const ImageFields &fields)
{
    SetImage(fields);
    Refresh(driver, RefreshImage);
}

ControlsToImageRun RunControlsToImage()
{
    ControlsToImageRun run;
    run.box = RunAndAnswer([&run] { run.result = ControlsToImage(); }, mainDialogHandle);
    return run;
}

ControlsToImageRun StoreSpeedText(DialogDriver &driver, const std::string &text)
{
    driver.SetText(IDC_SPEED_ADJUST, text);
    return RunControlsToImage();
}

RECT ControlRect(HWND dialog, int id)
{
    RECT rect = {};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

RECT DialogUnitRect(HWND dialog, int x, int y, int width, int height)
{
    // The dialog manager converts the position and the size each on its own.
    RECT place = {x, y, width, height};
    MapDialogRect(dialog, &place);
    return {place.left, place.top, place.left + place.right, place.top + place.bottom};
}

HWND DialogFocus(HWND dialog)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    return info.hwndFocus;
}
