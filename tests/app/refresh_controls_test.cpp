// RefreshControls in every mode and for every kind of image, called from the
// test thread as the worker calls it: texts, visibility, enabling, checks.
#include "tests/app/app_fixture.h"

#include "app/controls.h"
#include "app/main_window.h"
#include "app/resource_ids.h"
#include "config/config_image.h"

#include <doctest.h>

#include <initializer_list>
#include <string>

namespace {

const int sensorRadios[] = {IDC_SENSOR_HIGH_TO_LOW, IDC_SENSOR_LOW_FREQ, IDC_SENSOR_HIGH_FREQ};
const int tableRadios[] = {IDC_TABLE_AP1_RES, IDC_TABLE_AP2_RES, IDC_TABLE_AP1_5V, IDC_TABLE_AP2_5V};
const int singleWire[] = {IDC_SINGLE_WIRE_GROUP, IDC_TABLE_AP1_RES, IDC_TABLE_AP2_RES, IDC_EDIT_AP1_RES,
                          IDC_EDIT_AP2_RES};
const int twoWire[] = {IDC_TWO_WIRE_GROUP, IDC_TABLE_AP1_5V, IDC_TABLE_AP2_5V, IDC_EDIT_AP1_5V, IDC_EDIT_AP2_5V};

void CheckShown(DialogDriver &driver, int id, bool shown)
{
    CAPTURE(id);
    CHECK(driver.Visible(id) == shown);
    if (id != IDC_SINGLE_WIRE_GROUP && id != IDC_TWO_WIRE_GROUP)
        CHECK(driver.Enabled(id) == shown);  // shown choices are usable, hidden ones are not
}

template <size_t N>
void CheckShown(DialogDriver &driver, const int (&ids)[N], bool shown)
{
    for (int id : ids)
        CheckShown(driver, id, shown);
}

// Exactly `checked` (0 for none) of the radios is checked.
template <size_t N>
void CheckOnly(DialogDriver &driver, const int (&radios)[N], int checked)
{
    for (int id : radios) {
        CAPTURE(id);
        CHECK(driver.Checked(id) == (id == checked));
    }
}

void CheckButtons(DialogDriver &driver, bool read, bool writeAndDefaults)
{
    CHECK(driver.Enabled(IDC_READ_DEVICE) == read);
    CHECK(driver.Enabled(IDC_WRITE_DEVICE) == writeAndDefaults);
    CHECK(driver.Enabled(IDC_FACTORY_DEFAULTS) == writeAndDefaults);
    for (int id : {IDC_READ_DEVICE, IDC_WRITE_DEVICE, IDC_FACTORY_DEFAULTS})
        CHECK(driver.Visible(id));
}

// The controls RefreshControls never touches.
void CheckUntouched(DialogDriver &driver)
{
    CHECK(driver.Visible(IDC_CAPTION));
    CHECK(driver.Visible(IDC_SPEED_GROUP));
    CHECK(driver.Visible(IDC_RANGE_HINT));
    CHECK_FALSE(driver.Enabled(IDC_RANGE_HINT));
    CHECK(driver.Visible(IDC_STATUS));
}

// Everything a type 2, firmware 12300 image shows: the fullest state.
void ShowFullImage(DialogDriver &driver)
{
    highToLowUnlocked = 1;
    SetImage({12300, 2, 0x0019, 33233, 122});
    Refresh(driver, RefreshImage);
    for (int id : sensorRadios)
        REQUIRE(driver.Visible(id));
    REQUIRE(driver.Visible(IDC_TWO_WIRE_GROUP));
}

} // namespace

TEST_CASE_FIXTURE(AppFixture, "refresh: busy hides every choice and disables every input")
{
    DialogDriver driver;
    ShowFullImage(driver);
    Refresh(driver, RefreshBusy);
    CheckButtons(driver, false, false);
    CHECK_FALSE(driver.Enabled(IDC_SPEED_ADJUST));
    CHECK(driver.Text(IDC_SPEED_ADJUST) == "2.5");  // kept, greyed
    CheckShown(driver, sensorRadios, false);
    CheckShown(driver, singleWire, false);
    CheckShown(driver, twoWire, false);
    CheckOnly(driver, sensorRadios, 0);
    CheckOnly(driver, tableRadios, 0);
    CheckUntouched(driver);
}

TEST_CASE_FIXTURE(AppFixture, "refresh: no data leaves only Read Device")
{
    DialogDriver driver;
    ShowFullImage(driver);
    driver.SetText(IDC_SPEED_ADJUST, "7.5");
    Refresh(driver, RefreshNoData);
    CheckButtons(driver, true, false);
    CHECK_FALSE(driver.Enabled(IDC_SPEED_ADJUST));
    CHECK(driver.Text(IDC_SPEED_ADJUST) == "7.5");
    CheckShown(driver, sensorRadios, false);
    CheckShown(driver, singleWire, false);
    CheckShown(driver, twoWire, false);
    CheckOnly(driver, sensorRadios, 0);
    CheckOnly(driver, tableRadios, 0);
    CheckUntouched(driver);
}

TEST_CASE_FIXTURE(AppFixture, "refresh: type 1 or 2 with firmware 12300 shows both sensor boxes")
{
    DialogDriver driver;
    for (uint16_t type : {2, 1}) {
        for (int mode : {int(RefreshImage), int(RefreshAfterWrite), 7}) {
            CAPTURE(type);
            CAPTURE(mode);
            highToLowUnlocked = 0;
            SetImage({12300, type, 0x8019, 367, 12});
            Refresh(driver, RefreshBusy);
            Refresh(driver, mode);
            CheckButtons(driver, true, true);
            CHECK(driver.Enabled(IDC_SPEED_ADJUST));
            CHECK(driver.Text(IDC_SPEED_ADJUST) == "-2.5");
            CHECK(driver.Text(IDC_SENSOR_HIGH_TO_LOW) == "NOT USED");
            CHECK(driver.Text(IDC_SENSOR_LOW_FREQ) == "Low Freq (Gear Driven)");
            CHECK(driver.Text(IDC_SENSOR_HIGH_FREQ) == "High Freq (Magnetic)");
            CheckShown(driver, IDC_SENSOR_HIGH_TO_LOW, false);
            CheckShown(driver, IDC_SENSOR_LOW_FREQ, true);
            CheckShown(driver, IDC_SENSOR_HIGH_FREQ, true);
            CheckShown(driver, singleWire, true);
            CheckShown(driver, twoWire, true);
            CheckOnly(driver, sensorRadios, IDC_SENSOR_LOW_FREQ);
            CheckOnly(driver, tableRadios, IDC_TABLE_AP2_RES);
            CheckUntouched(driver);
        }
    }
}

TEST_CASE_FIXTURE(AppFixture, "refresh: the unlock offers High to Low")
{
    DialogDriver driver;
    highToLowUnlocked = 1;
    SetImage({12300, 2, 0, 0, 93});
    Refresh(driver, RefreshImage);
    CHECK(driver.Text(IDC_SENSOR_HIGH_TO_LOW) == "High to Low");
    CheckShown(driver, sensorRadios, true);
    CheckOnly(driver, sensorRadios, IDC_SENSOR_HIGH_FREQ);

    // Chosen by the user, it takes the check from the others.
    driver.Click(IDC_SENSOR_HIGH_TO_LOW);
    CheckOnly(driver, sensorRadios, IDC_SENSOR_HIGH_TO_LOW);

    // Withdrawn with the next image shown without the unlock.
    highToLowUnlocked = 0;
    Refresh(driver, RefreshImage);
    CHECK(driver.Text(IDC_SENSOR_HIGH_TO_LOW) == "NOT USED");
    CheckShown(driver, IDC_SENSOR_HIGH_TO_LOW, false);
}

TEST_CASE_FIXTURE(AppFixture, "refresh: a choice the image holds is checked even where it stays hidden")
{
    DialogDriver driver;
    SUBCASE("High to Low without the unlock")
    {
        SetImage({12300, 2, 0, 33233, 93});
        Refresh(driver, RefreshImage);
        CHECK_FALSE(driver.Visible(IDC_SENSOR_HIGH_TO_LOW));
        CheckOnly(driver, sensorRadios, IDC_SENSOR_HIGH_TO_LOW);
    }
    SUBCASE("a two-wire table on firmware 10005")
    {
        SetImage({10005, 2, 0, 367, 203});
        Refresh(driver, RefreshImage);
        CheckShown(driver, singleWire, true);
        CheckShown(driver, twoWire, false);
        CheckOnly(driver, tableRadios, IDC_TABLE_AP1_5V);
        CHECK_FALSE(driver.Checked(IDC_TABLE_AP1_RES));  // no visible table choice checked
        CHECK_FALSE(driver.Checked(IDC_TABLE_AP2_RES));
    }
}

TEST_CASE_FIXTURE(AppFixture, "refresh: type 1 or 2 with another firmware hides the two-wire box")
{
    DialogDriver driver;
    for (uint16_t version : {10005, 12301, 0xFFFF}) {
        CAPTURE(version);
        ShowFullImage(driver);
        highToLowUnlocked = 0;
        SetImage({version, 2, 0x00FA, 0, 93});
        Refresh(driver, RefreshImage);
        CheckButtons(driver, true, true);
        CHECK(driver.Enabled(IDC_SPEED_ADJUST));
        CHECK(driver.Text(IDC_SPEED_ADJUST) == "25.0");
        CheckShown(driver, IDC_SENSOR_HIGH_TO_LOW, false);
        CheckShown(driver, IDC_SENSOR_LOW_FREQ, true);
        CheckShown(driver, IDC_SENSOR_HIGH_FREQ, true);
        CheckShown(driver, singleWire, true);
        CheckShown(driver, twoWire, false);
        CheckOnly(driver, sensorRadios, IDC_SENSOR_HIGH_FREQ);
        CheckOnly(driver, tableRadios, IDC_TABLE_AP1_RES);
    }
}

TEST_CASE_FIXTURE(AppFixture, "refresh: type 3 offers the three sensor kinds and no tables")
{
    DialogDriver driver;
    ShowFullImage(driver);  // texts and boxes of a type 2 image first
    highToLowUnlocked = 0;
    SetImage({12300, 3, 0x8000, 33233, 93});
    Refresh(driver, RefreshImage);
    CheckButtons(driver, true, true);
    CHECK(driver.Enabled(IDC_SPEED_ADJUST));
    CHECK(driver.Text(IDC_SPEED_ADJUST) == "0.0");
    CHECK(driver.Text(IDC_SENSOR_HIGH_TO_LOW) == "RSX");
    CHECK(driver.Text(IDC_SENSOR_LOW_FREQ) == "S2K");
    CHECK(driver.Text(IDC_SENSOR_HIGH_FREQ) == "General");
    CheckShown(driver, sensorRadios, true);
    CheckShown(driver, singleWire, false);
    CheckShown(driver, twoWire, false);
    CheckOnly(driver, sensorRadios, IDC_SENSOR_HIGH_TO_LOW);
    CheckOnly(driver, tableRadios, 0);  // sensor code only
    // The unlock changes nothing for type 3.
    highToLowUnlocked = 1;
    Refresh(driver, RefreshImage);
    CHECK(driver.Text(IDC_SENSOR_HIGH_TO_LOW) == "RSX");
}

TEST_CASE_FIXTURE(AppFixture, "refresh: any other type shows the value but offers nothing")
{
    DialogDriver driver;
    for (uint16_t type : {0, 4, 0xFFFF}) {
        CAPTURE(type);
        ShowFullImage(driver);
        SetImage({12300, type, 0x7FFF, 367, 93});
        Refresh(driver, RefreshImage);
        CheckButtons(driver, true, true);
        CHECK_FALSE(driver.Enabled(IDC_SPEED_ADJUST));
        CHECK(driver.Text(IDC_SPEED_ADJUST) == "3276.7");
        CheckShown(driver, sensorRadios, false);
        CheckShown(driver, singleWire, false);
        CheckShown(driver, twoWire, false);
        CheckOnly(driver, sensorRadios, IDC_SENSOR_LOW_FREQ);  // sensor code only
        CheckOnly(driver, tableRadios, 0);
    }
}

TEST_CASE_FIXTURE(AppFixture, "refresh: the speed adjustment and the checks from the image")
{
    DialogDriver driver;
    const std::pair<uint16_t, const char *> speeds[] = {
        {0x0019, "2.5"}, {0x8019, "-2.5"}, {0x8000, "0.0"}, {0x0000, "0.0"}, {0x00FA, "25.0"},
        {0x80FA, "-25.0"}, {0x0001, "0.1"}, {0x7FFF, "3276.7"}, {0xFFFF, "-3276.7"},
    };
    for (const auto &speed : speeds) {
        SetImage({12300, 2, speed.first, 367, 93});
        Refresh(driver, RefreshImage);
        CHECK(driver.Text(IDC_SPEED_ADJUST) == speed.second);
    }
    const std::pair<uint16_t, int> codes[] = {
        {367, IDC_SENSOR_LOW_FREQ}, {33233, IDC_SENSOR_HIGH_TO_LOW}, {0, IDC_SENSOR_HIGH_FREQ},
        {1, 0}, {0xFFFF, 0}, {0x81D0, 0},
    };
    for (const auto &code : codes) {
        CAPTURE(code.first);
        SetImage({12300, 2, 0, code.first, 93});
        Refresh(driver, RefreshImage);
        CheckOnly(driver, sensorRadios, code.second);
    }
    const std::pair<uint8_t, int> tables[] = {
        {93, IDC_TABLE_AP1_RES}, {12, IDC_TABLE_AP2_RES}, {203, IDC_TABLE_AP1_5V},
        {122, IDC_TABLE_AP2_5V}, {0, 0}, {0xFF, 0}, {94, 0},
    };
    for (const auto &table : tables) {
        CAPTURE(table.first);
        SetImage({12300, 2, 0, 367, table.first});
        Refresh(driver, RefreshImage);
        CheckOnly(driver, tableRadios, table.second);
    }
}

TEST_CASE_FIXTURE(AppFixture, "refresh: the keyboard focus comes back when the controls do")
{
    DialogDriver driver;
    SetImage({});
    Refresh(driver, RefreshImage);
    // The user tabbed to the edit; a read disables it under the focus.
    SendMessageA(driver.Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(driver.Item(IDC_SPEED_ADJUST)), TRUE);
    REQUIRE(DialogFocus(driver.Dialog()) == driver.Item(IDC_SPEED_ADJUST));
    Refresh(driver, RefreshBusy);
    Refresh(driver, RefreshNoData);
    HWND focus = DialogFocus(driver.Dialog());
    CHECK(focus == driver.Item(IDC_READ_DEVICE));

    // A focus on a control that stays usable is left where it is.
    Refresh(driver, RefreshImage);
    SendMessageA(driver.Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(driver.Item(IDC_EDIT_AP2_RES)), TRUE);
    Refresh(driver, RefreshImage);
    CHECK(DialogFocus(driver.Dialog()) == driver.Item(IDC_EDIT_AP2_RES));
}
