// Shared steps of the main-window tests: images set as a read would leave
// them, ControlsToImage run the way the worker runs it, and what the user
// sees of the dialog's layout and boxes.
#pragma once

#include "tests/support/dialog_driver.h"
#include "tests/support/sim_fixture.h"

#include <windows.h>

#include <cstdint>
#include <string>

// Each test starts from an empty bus and no Help presses or unlock.
struct AppFixture : SimFixture {
    AppFixture();
};

// The image fields the main dialog shows; the rest of the image is erased.
struct ImageFields {
    uint16_t version = 12300;
    uint16_t type = 2;
    uint16_t speedAdjust = 0;
    uint16_t speedSensorCode = 367;
    uint8_t activeTable = 93;
    uint8_t sensorWiring = 0;
};
void SetImage(const ImageFields &fields);

// RefreshControls from the test thread, as the worker calls it.
void Refresh(DialogDriver &driver, int mode);
// The image set and shown as a read leaves it.
void ShowImage(DialogDriver &driver, const ImageFields &fields);

// ControlsToImage on a thread of its own, as the worker runs it. Its error
// box is modal, so the test finds it as a user would and presses OK.
struct ControlsToImageRun {
    int result = -1;
    BoxView box;  // the box shown, if any (window null when none)
};
ControlsToImageRun RunControlsToImage();

// The speed text through the dialog: ControlsToImage on that text.
ControlsToImageRun StoreSpeedText(DialogDriver &driver, const std::string &text);

// A control's place in the dialog's client area, in pixels, and the same
// for a rectangle in dialog units.
RECT ControlRect(HWND dialog, int id);
RECT DialogUnitRect(HWND dialog, int x, int y, int width, int height);

// The dialog thread's keyboard focus.
HWND DialogFocus(HWND dialog);
