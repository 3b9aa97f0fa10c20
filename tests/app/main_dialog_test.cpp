// The main dialog's behaviour over the simulated converter: the Help-key
// counter, Enter and Escape, the guarded close, and the guards while an
// operation runs.
#include "tests/app/app_fixture.h"

#include "app/controls.h"
#include "app/main_window.h"
#include "app/resource_ids.h"
#include "config/config_image.h"
#include "protocol/device_operations.h"

#include <doctest.h>

#include <string>

namespace {

const char closeWarning[] =
    "You should NEVER exit during USB activity,\nexiting now can corrupt the device,\ndo you want to exit anyway?";

// Starts Write Device with a refused speed text: the worker then waits in
// its modal error box, so an operation is running for as long as the test
// needs. Returns that box.
BoxView HoldWorkerInErrorBox(DialogDriver &driver)
{
    driver.SetText(IDC_SPEED_ADJUST, "99");
    driver.Click(IDC_WRITE_DEVICE);
    BoxView box = WaitForBox("Error", 10000, driver.Dialog());
    REQUIRE(box.window != nullptr);
    REQUIRE(box.text == "Speed Adjustment value is out of range!");
    REQUIRE(workerHandle != nullptr);
    return box;
}

}  // namespace

TEST_CASE_FIXTURE(AppFixture, "dialog: F1 presses are counted; four unlock High to Low for the next read")
{
    bus.AddConverter();  // firmware 12300, type 2
    DialogDriver driver;
    // Eleven open the format questions instead, see the format tests.
    const std::pair<unsigned, bool> rows[] = {{4, true}, {12, false}, {0, false}, {10, false}};
    for (const auto &row : rows) {
        CAPTURE(row.first);
        driver.ClearStatusHistory();
        driver.PressF1(static_cast<int>(row.first));
        CHECK(helpPressCount == row.first);
        // Counting changes nothing the user sees.
        CHECK(driver.StatusHistory().empty());
        CHECK(WaitForBox("", 100, driver.Dialog()).window == nullptr);

        driver.ClickAndWait(IDC_READ_DEVICE);
        CHECK(helpPressCount == 0);
        CHECK(driver.Text(IDC_SENSOR_HIGH_TO_LOW) == (row.second ? "High to Low" : "NOT USED"));
        CHECK(driver.Visible(IDC_SENSOR_HIGH_TO_LOW) == row.second);
        CHECK(driver.Enabled(IDC_SENSOR_HIGH_TO_LOW) == row.second);
        CHECK(driver.Text(IDC_STATUS).rfind(" Read OK        Ver:1.23.00        Device:VSS+ECT", 0) == 0);
        CHECK(driver.Enabled(IDC_WRITE_DEVICE));
        CHECK(driver.Visible(IDC_TWO_WIRE_GROUP));
        // The focus is on a control the user can still use.
        HWND focus = DialogFocus(driver.Dialog());
        CHECK(focus != nullptr);
        CHECK(IsWindowEnabled(focus));
        CHECK(IsWindowVisible(focus));
    }
}

TEST_CASE_FIXTURE(AppFixture, "dialog: Enter and Escape do nothing")
{
    bus.AddConverter();
    DialogDriver driver;
    driver.ClickAndWait(IDC_READ_DEVICE);
    driver.ClearStatusHistory();
    bus.ClearTraffic();
    const std::string status = driver.Text(IDC_STATUS);

    driver.Command(IDOK);
    driver.Command(IDCANCEL);
    // From the keyboard, with the focus in the edit and on a radio.
    SendMessageA(driver.Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(driver.Item(IDC_SPEED_ADJUST)), TRUE);
    PressKey(driver.Item(IDC_SPEED_ADJUST), VK_RETURN);
    PressKey(driver.Item(IDC_SPEED_ADJUST), VK_ESCAPE);
    PressKey(driver.Item(IDC_TABLE_AP1_RES), VK_ESCAPE);
    driver.Sync();

    CHECK_FALSE(driver.Ended(100));
    CHECK(IsWindowVisible(driver.Dialog()));
    CHECK(WaitForBox("", 300, driver.Dialog()).window == nullptr);
    CHECK(workerHandle == nullptr);
    CHECK(bus.Traffic().empty());
    CHECK(driver.StatusHistory().empty());
    CHECK(driver.Text(IDC_STATUS) == status);
}

TEST_CASE_FIXTURE(AppFixture,
                  "dialog: while an operation runs, closing asks first and nothing else starts; idle it closes at once")
{
    bus.AddConverter();
    DialogDriver driver;
    driver.ClickAndWait(IDC_READ_DEVICE);
    BoxView error = HoldWorkerInErrorBox(driver);

    driver.Close();
    BoxView warning = WaitForBox("WARNING!", 10000, driver.Dialog());
    CheckBox(warning, "WARNING!", closeWarning, {IDYES, IDNO}, IDI_WARNING, false, driver.Dialog());
    // A second close request meanwhile asks no second question.
    driver.Close();
    driver.Sync();
    CHECK(WaitForBox("WARNING!", 300, warning.window).window == nullptr);
    PressBoxButton(warning, IDNO);
    CHECK_FALSE(driver.Ended(200));
    CHECK(workerHandle != nullptr);

    // Commands behind the (disabled) buttons: no editor, no defaults, no
    // format, no second operation.
    const uint8_t before = ConfigImage.Byte(94);
    driver.Command(IDC_EDIT_AP1_RES);
    driver.Command(IDC_FACTORY_DEFAULTS);
    driver.Command(IDC_WRITE_DEVICE);
    driver.PressF1(11);
    driver.Command(IDC_READ_DEVICE);
    CHECK(NoBox("AP1 RES Table Edit"));
    CHECK(NoBox("Defaults Loaded OK"));
    CHECK(NoBox("DEVICE FORMAT"));
    CHECK(ConfigImage.Byte(94) == before);

    // The operation goes on: the user dismisses its box and it ends.
    PressBoxButton(error, IDOK);
    REQUIRE(driver.WaitIdle());
    driver.Sync();
    // The refused text is gone: the image is shown again, nothing written.
    CHECK(driver.Text(IDC_SPEED_ADJUST) == "0.0");
    for (int address = 0; address < 256; ++address)
        REQUIRE(bus.Devices().front()->WritesTo(address) == 0);

    // Idle again: the close box ends the dialog without a question.
    driver.Close();
    REQUIRE(driver.Ended());
    CHECK(driver.Result() == 0);
    CHECK(NoBox("WARNING!", 50));
}

TEST_CASE_FIXTURE(AppFixture, "dialog: Yes to the close question ends the dialog without waiting")
{
    bus.SetRealTime(true, 20000);  // a slow wire: the read takes many seconds
    bus.AddConverter();
    DialogDriver driver;
    driver.Click(IDC_READ_DEVICE);
    REQUIRE(workerHandle != nullptr);
    driver.Close();
    BoxView warning = WaitForBox("WARNING!", 10000, driver.Dialog());
    REQUIRE(warning.window != nullptr);
    REQUIRE(workerHandle != nullptr);
    PressBoxButton(warning, IDYES);
    REQUIRE(driver.Ended(10000));
    CHECK(driver.Result() == 0);
    CHECK(workerHandle != nullptr);  // the dialog did not wait for the read
    // What the program does next: the cut-off read stops at its next
    // register and is waited for, leaving nothing open.
    EndWorkerBeforeExit();
    CHECK(workerHandle == nullptr);
    CHECK(bus.OpenHandles() == 0);
    bus.SetRealTime(false);
}
