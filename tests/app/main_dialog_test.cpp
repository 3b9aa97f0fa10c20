// The main dialog's behaviour: the Help-key counter and its service entry,
// Enter and Escape, the guarded close, and the routing of every button to
// the real operations over the simulated converter.
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

bool StartsWith(const std::string &text, const std::string &prefix)
{
    return text.rfind(prefix, 0) == 0;
}

void ReadAndWait(DialogDriver &driver)
{
    driver.Click(IDC_READ_DEVICE);
    REQUIRE(driver.WaitIdle());
    driver.Sync();
}

bool NoRegisterTraffic(sim::SimBus &bus)
{
    return bus.Traffic().empty();
}

// A key as the keyboard delivers it to the focused control.
void PressKey(DialogDriver &driver, HWND focus, WPARAM key)
{
    PostMessageA(focus, WM_KEYDOWN, key, 1);
    PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
    driver.Sync();
}

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

} // namespace

TEST_CASE_FIXTURE(AppFixture, "dialog: F1 presses are counted")
{
    DialogDriver driver;
    driver.PressF1();
    CHECK(helpPressCount == 1);
    driver.PressF1(5);
    CHECK(helpPressCount == 6);
    // Counting changes nothing the user sees.
    CHECK(driver.StatusHistory().empty());
    CHECK(driver.Enabled(IDC_READ_DEVICE));
    CHECK(WaitForBox("", 300, driver.Dialog()).window == nullptr);
}

TEST_CASE_FIXTURE(AppFixture, "dialog: eleven F1 presses and Read Device open the format questions instead of a read")
{
    bus.AddConverter();
    DialogDriver driver;
    driver.PressF1(11);
    driver.Click(IDC_READ_DEVICE);
    BoxView question = WaitForBox("DEVICE FORMAT", 10000, driver.Dialog());
    REQUIRE(question.window != nullptr);
    CHECK(helpPressCount == 0);
    PressBoxButton(question, IDNO);
    driver.Sync();
    CHECK(workerHandle == nullptr);
    CHECK(NoRegisterTraffic(bus));
    CHECK(driver.Text(IDC_STATUS) == " Status...");
    CHECK_FALSE(driver.Enabled(IDC_WRITE_DEVICE));
}

TEST_CASE_FIXTURE(AppFixture, "dialog: Read Device reads, with or without the High to Low unlock")
{
    bus.AddConverter();  // firmware 12300, type 2
    DialogDriver driver;
    SUBCASE("four presses unlock High to Low")
    {
        driver.PressF1(4);
        ReadAndWait(driver);
        CHECK(helpPressCount == 0);
        CHECK(driver.Text(IDC_SENSOR_HIGH_TO_LOW) == "High to Low");
        CHECK(driver.Visible(IDC_SENSOR_HIGH_TO_LOW));
        CHECK(driver.Enabled(IDC_SENSOR_HIGH_TO_LOW));
    }
    SUBCASE("twelve presses read without the unlock")
    {
        driver.PressF1(12);
        ReadAndWait(driver);
        CHECK(helpPressCount == 0);
        CHECK(driver.Text(IDC_SENSOR_HIGH_TO_LOW) == "NOT USED");
        CHECK_FALSE(driver.Visible(IDC_SENSOR_HIGH_TO_LOW));
    }
    SUBCASE("no presses")
    {
        ReadAndWait(driver);
        CHECK_FALSE(driver.Visible(IDC_SENSOR_HIGH_TO_LOW));
    }
    CHECK(StartsWith(driver.Text(IDC_STATUS), " Read OK        Ver:1.23.00        Device:VSS+ECT"));
    CHECK(driver.Enabled(IDC_WRITE_DEVICE));
    CHECK(driver.Visible(IDC_TWO_WIRE_GROUP));
    // The focus is on a control the user can still use.
    HWND focus = DialogFocus(driver.Dialog());
    CHECK(focus != nullptr);
    CHECK(IsWindowEnabled(focus));
    CHECK(IsWindowVisible(focus));
}

TEST_CASE_FIXTURE(AppFixture, "dialog: Enter and Escape do nothing")
{
    bus.AddConverter();
    DialogDriver driver;
    ReadAndWait(driver);
    driver.ClearStatusHistory();
    bus.ClearTraffic();
    const std::string status = driver.Text(IDC_STATUS);

    driver.Command(IDOK);
    driver.Command(IDCANCEL);
    // From the keyboard, with the focus in the edit and on a radio.
    SendMessageA(driver.Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(driver.Item(IDC_SPEED_ADJUST)), TRUE);
    PressKey(driver, driver.Item(IDC_SPEED_ADJUST), VK_RETURN);
    PressKey(driver, driver.Item(IDC_SPEED_ADJUST), VK_ESCAPE);
    PressKey(driver, driver.Item(IDC_TABLE_AP1_RES), VK_ESCAPE);

    CHECK_FALSE(driver.Ended(100));
    CHECK(IsWindowVisible(driver.Dialog()));
    CHECK(WaitForBox("", 300, driver.Dialog()).window == nullptr);
    CHECK(workerHandle == nullptr);
    CHECK(NoRegisterTraffic(bus));
    CHECK(driver.StatusHistory().empty());
    CHECK(driver.Text(IDC_STATUS) == status);
}

TEST_CASE_FIXTURE(AppFixture, "dialog: closing with nothing running ends the dialog at once with 0")
{
    DialogDriver driver;
    driver.Close();
    REQUIRE(driver.Ended());
    CHECK(driver.Result() == 0);
    CHECK(NoBox("WARNING!", 50));
}

TEST_CASE_FIXTURE(AppFixture, "dialog: closing while an operation runs asks first; No keeps it running")
{
    bus.AddConverter();
    DialogDriver driver;
    ReadAndWait(driver);
    BoxView error = HoldWorkerInErrorBox(driver);

    driver.Close();
    BoxView warning = WaitForBox("WARNING!", 10000, driver.Dialog());
    REQUIRE(warning.window != nullptr);
    CHECK(warning.text == closeWarning);
    CHECK(warning.icon == StockIcon(IDI_WARNING));
    CHECK(warning.owner == driver.Dialog());
    CHECK(warning.buttons == std::vector<int>{IDYES, IDNO});
    // A second close request meanwhile asks no second question.
    driver.Close();
    driver.Sync();
    CHECK(WaitForBox("WARNING!", 300, warning.window).window == nullptr);
    PressBoxButton(warning, IDNO);
    CHECK_FALSE(driver.Ended(200));
    CHECK(workerHandle != nullptr);

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

TEST_CASE_FIXTURE(AppFixture, "dialog: Write Device and Factory Defaults reach their operations")
{
    sim::SimDevice &converter = bus.AddConverter();
    DialogDriver driver;
    ReadAndWait(driver);

    driver.SetText(IDC_SPEED_ADJUST, "-4.2");
    driver.Click(IDC_WRITE_DEVICE);
    REQUIRE(driver.WaitIdle());
    driver.Sync();
    CHECK(driver.Text(IDC_STATUS) == " Device Write OK");
    CHECK(converter.Register(6) == 42);
    CHECK(converter.Register(7) == 0x80);

    driver.Click(IDC_FACTORY_DEFAULTS);
    BoxView loaded = WaitForBox("Defaults Loaded OK", 10000, driver.Dialog());
    REQUIRE(loaded.window != nullptr);
    CHECK(loaded.owner == driver.Dialog());
    PressBoxButton(loaded, IDOK);
    driver.Sync();
    CHECK(driver.Text(IDC_SPEED_ADJUST) == "0.0");
}

TEST_CASE_FIXTURE(AppFixture, "dialog: each Edit button opens its own table, whichever is checked")
{
    DialogDriver driver;
    // A default image, so every table is valid and all four are shown.
    bus.AddConverter();
    ReadAndWait(driver);
    driver.Click(IDC_TABLE_AP2_5V);
    const std::pair<int, const char *> buttons[] = {{IDC_EDIT_AP1_RES, "AP1 RES Table Edit"},
                                                    {IDC_EDIT_AP2_RES, "AP2 RES Table Edit"},
                                                    {IDC_EDIT_AP1_5V, "AP1 5V Table Edit"},
                                                    {IDC_EDIT_AP2_5V, "AP2 5V Table Edit"}};
    for (const auto &button : buttons) {
        CAPTURE(button.second);
        driver.Click(button.first);
        BoxView editor = WaitForBox(button.second, 10000, driver.Dialog());
        REQUIRE(editor.window != nullptr);
        CHECK(editor.owner == driver.Dialog());
        CHECK_FALSE(IsWindowEnabled(driver.Dialog()));  // modal to the main dialog
        PostMessageA(GetDlgItem(editor.window, IDC_TABLE_CANCEL), BM_CLICK, 0, 0);
        for (int i = 0; i < 500 && IsWindow(editor.window); ++i)
            Sleep(10);
        REQUIRE_FALSE(IsWindow(editor.window));
        driver.Sync();
        CHECK(IsWindowEnabled(driver.Dialog()));
    }
}

TEST_CASE_FIXTURE(AppFixture, "dialog: nothing touches the image while an operation runs")
{
    sim::SimDevice &converter = bus.AddConverter();
    DialogDriver driver;
    ReadAndWait(driver);
    BoxView error = HoldWorkerInErrorBox(driver);
    const uint8_t before = ConfigImage.Byte(94);

    // Commands behind the (disabled) buttons: no editor, no defaults, no second operation.
    driver.Command(IDC_EDIT_AP1_RES);
    driver.Command(IDC_FACTORY_DEFAULTS);
    driver.Command(IDC_READ_DEVICE);
    driver.Command(IDC_WRITE_DEVICE);
    CHECK(NoBox("AP1 RES Table Edit"));
    CHECK(NoBox("Defaults Loaded OK"));
    CHECK(ConfigImage.Byte(94) == before);

    PressBoxButton(error, IDOK);
    REQUIRE(driver.WaitIdle());
    for (int address = 0; address < 256; ++address)
        REQUIRE(converter.WritesTo(address) == 0);
}
