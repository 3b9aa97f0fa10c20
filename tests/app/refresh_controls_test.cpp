// RefreshControls in every mode and for every kind of image, called from the
// test thread as the worker calls it: texts, visibility, enabling, checks.
#include "tests/app/app_fixture.h"

#include "app/controls.h"
#include "app/main_window.h"
#include "app/resource_ids.h"

#include <doctest.h>

#include <string>
#include <vector>

namespace {

const int sensorRadios[] = {IDC_SENSOR_HIGH_TO_LOW, IDC_SENSOR_LOW_FREQ, IDC_SENSOR_HIGH_FREQ};
const int tableRadios[] = {IDC_TABLE_AP1_RES, IDC_TABLE_AP2_RES, IDC_TABLE_AP1_5V, IDC_TABLE_AP2_5V};

// The columns of the state table.
enum Column { Busy, NoData, Type12At12300, Type12Other, Type3, OtherType };

// One row per control, one letter per column: s shown and enabled, h hidden
// and disabled, g shown but greyed, o hidden but enabled (group boxes are
// only ever shown or hidden).
const struct {
    int id;
    const char *states;
} stateTable[] = {
    {IDC_READ_DEVICE, "gsssss"},
    {IDC_WRITE_DEVICE, "ggssss"},
    {IDC_FACTORY_DEFAULTS, "ggssss"},
    {IDC_SPEED_ADJUST, "ggsssg"},
    {IDC_SENSOR_HIGH_TO_LOW, "hhhhsh"},
    {IDC_SENSOR_LOW_FREQ, "hhsssh"},
    {IDC_SENSOR_HIGH_FREQ, "hhsssh"},
    {IDC_SINGLE_WIRE_GROUP, "oossoo"},
    {IDC_TABLE_AP1_RES, "hhsshh"},
    {IDC_TABLE_AP2_RES, "hhsshh"},
    {IDC_EDIT_AP1_RES, "hhsshh"},
    {IDC_EDIT_AP2_RES, "hhsshh"},
    {IDC_TWO_WIRE_GROUP, "oosooo"},
    {IDC_TABLE_AP1_5V, "hhshhh"},
    {IDC_TABLE_AP2_5V, "hhshhh"},
    {IDC_EDIT_AP1_5V, "hhshhh"},
    {IDC_EDIT_AP2_5V, "hhshhh"},
    // Never touched by a refresh.
    {IDC_CAPTION, "ssssss"},
    {IDC_SPEED_GROUP, "ssssss"},
    {IDC_RANGE_HINT, "gggggg"},
    {IDC_STATUS, "ssssss"},
};

// What each column shows besides: the speed text, the three sensor texts
// (unchecked where null) and the one checked choice of each radio group.
const struct {
    const char *speed;
    const char *sensorTexts[3];
    int sensorChecked, tableChecked;
} columnTexts[] = {
    {"7.5", {}, 0, 0},  // the user's text is kept, greyed
    {"7.5", {}, 0, 0},
    {"-2.5", {"NOT USED", "Low Freq (Gear Driven)", "High Freq (Magnetic)"}, IDC_SENSOR_LOW_FREQ, IDC_TABLE_AP2_RES},
    {"25.0", {"NOT USED", "Low Freq (Gear Driven)", "High Freq (Magnetic)"}, IDC_SENSOR_HIGH_FREQ, IDC_TABLE_AP1_RES},
    {"0.0", {"RSX", "S2K", "General"}, IDC_SENSOR_HIGH_TO_LOW, 0},  // sensor code only
    {"3276.7", {}, IDC_SENSOR_LOW_FREQ, 0},
};

struct Case {
    Column column;
    int mode;
    ImageFields image;
};

std::vector<Case> Cases()
{
    std::vector<Case> cases = {{Busy, RefreshBusy, {}}, {NoData, RefreshNoData, {}}};
    for (uint16_t type : {1, 2}) {
        for (int mode : {int(RefreshImage), int(RefreshAfterWrite), 7})
            cases.push_back({Type12At12300, mode, {12300, type, 0x8019, 367, 12}});
        for (uint16_t version : {10005, 12301, 0xFFFF})
            cases.push_back({Type12Other, RefreshImage, {version, type, 0x00FA, 0, 93}});
    }
    cases.push_back({Type3, RefreshImage, {12300, 3, 0x8000, 33233, 93}});
    for (uint16_t type : {0, 4, 0xFFFF})
        cases.push_back({OtherType, RefreshImage, {12300, type, 0x7FFF, 367, 93}});
    return cases;
}

// Exactly `checked` (0 for none) of the radios is checked.
template <size_t N> void CheckOnly(DialogDriver &driver, const int (&radios)[N], int checked)
{
    for (int id : radios) {
        CAPTURE(id);
        CHECK(driver.Checked(id) == (id == checked));
    }
}

}  // namespace

TEST_CASE_FIXTURE(AppFixture, "refresh: the state table, from the fullest state and from busy")
{
    DialogDriver driver;
    for (bool fromBusy : {false, true}) {
        for (const Case &c : Cases()) {
            INFO("from busy ", fromBusy, ", column ", c.column, ", mode ", c.mode, ", version ", c.image.version,
                 ", type ", c.image.type);
            // Everything a type 2, firmware 12300 image offers with the unlock.
            highToLowUnlocked = 1;
            ShowImage(driver, {12300, 2, 0x0019, 33233, 122});
            driver.SetText(IDC_SPEED_ADJUST, "7.5");
            if (fromBusy)
                Refresh(driver, RefreshBusy);
            highToLowUnlocked = 0;
            if (c.mode != RefreshBusy && c.mode != RefreshNoData)
                SetImage(c.image);
            Refresh(driver, c.mode);

            for (const auto &row : stateTable) {
                CAPTURE(row.id);
                const char state = row.states[c.column];
                CHECK(driver.Visible(row.id) == (state == 's' || state == 'g'));
                CHECK(driver.Enabled(row.id) == (state == 's' || state == 'o'));
            }
            const auto &expected = columnTexts[c.column];
            CHECK(driver.Text(IDC_SPEED_ADJUST) == expected.speed);
            for (int i = 0; i < 3; ++i)
                if (expected.sensorTexts[i])
                    CHECK(driver.Text(sensorRadios[i]) == expected.sensorTexts[i]);
            CheckOnly(driver, sensorRadios, expected.sensorChecked);
            CheckOnly(driver, tableRadios, expected.tableChecked);
        }
    }
}

TEST_CASE_FIXTURE(AppFixture, "refresh: the unlock offers High to Low on type 1 and 2, not on type 3")
{
    DialogDriver driver;
    highToLowUnlocked = 1;
    ShowImage(driver, {12300, 2, 0, 0, 93});
    CHECK(driver.Text(IDC_SENSOR_HIGH_TO_LOW) == "High to Low");
    CHECK(driver.Visible(IDC_SENSOR_HIGH_TO_LOW));
    CHECK(driver.Enabled(IDC_SENSOR_HIGH_TO_LOW));
    CheckOnly(driver, sensorRadios, IDC_SENSOR_HIGH_FREQ);

    // Chosen by the user, it takes the check from the others.
    driver.Click(IDC_SENSOR_HIGH_TO_LOW);
    CheckOnly(driver, sensorRadios, IDC_SENSOR_HIGH_TO_LOW);

    ShowImage(driver, {12300, 3, 0, 0, 93});
    CHECK(driver.Text(IDC_SENSOR_HIGH_TO_LOW) == "RSX");
    // Its withdrawal is in the state table: each row starts unlocked.
}

TEST_CASE_FIXTURE(AppFixture, "refresh: the speed text and the checks from the image, hidden choices included")
{
    DialogDriver driver;
    // Every text of -25.0 to 25.0 is shown again in the round trip of the
    // controls-to-image tests; here what no user could type.
    const std::pair<uint16_t, const char *> speeds[] = {{0x8000, "0.0"}, {0x7FFF, "3276.7"}, {0xFFFF, "-3276.7"}};
    for (const auto &speed : speeds) {
        ShowImage(driver, {12300, 2, speed.first, 367, 93});
        CHECK(driver.Text(IDC_SPEED_ADJUST) == speed.second);
    }
    // High to Low is checked without the unlock, though hidden.
    const std::pair<uint16_t, int> codes[] = {
        {367, IDC_SENSOR_LOW_FREQ},
        {33233, IDC_SENSOR_HIGH_TO_LOW},
        {0, IDC_SENSOR_HIGH_FREQ},
        {1, 0},
        {0xFFFF, 0},
        {0x81D0, 0},
    };
    for (const auto &code : codes) {
        CAPTURE(code.first);
        ShowImage(driver, {12300, 2, 0, code.first, 93});
        CheckOnly(driver, sensorRadios, code.second);
    }
    // A two-wire table is checked on firmware 10005 too, in its hidden box.
    const struct {
        uint16_t version;
        uint8_t table;
        int checked;
    } tables[] = {
        {12300, 93, IDC_TABLE_AP1_RES},
        {12300, 12, IDC_TABLE_AP2_RES},
        {12300, 203, IDC_TABLE_AP1_5V},
        {12300, 122, IDC_TABLE_AP2_5V},
        {12300, 0, 0},
        {12300, 0xFF, 0},
        {12300, 94, 0},
        {10005, 203, IDC_TABLE_AP1_5V},
    };
    for (const auto &table : tables) {
        CAPTURE(table.table);
        ShowImage(driver, {table.version, 2, 0, 367, table.table});
        CheckOnly(driver, tableRadios, table.checked);
    }
}

TEST_CASE_FIXTURE(AppFixture, "refresh: the keyboard focus comes back when the controls do")
{
    DialogDriver driver;
    ShowImage(driver, {});
    // The user tabbed to the edit; a read disables it under the focus.
    SendMessageA(driver.Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(driver.Item(IDC_SPEED_ADJUST)), TRUE);
    REQUIRE(DialogFocus(driver.Dialog()) == driver.Item(IDC_SPEED_ADJUST));
    Refresh(driver, RefreshBusy);
    Refresh(driver, RefreshNoData);
    CHECK(DialogFocus(driver.Dialog()) == driver.Item(IDC_READ_DEVICE));

    // A focus on a control that stays usable is left where it is.
    Refresh(driver, RefreshImage);
    SendMessageA(driver.Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(driver.Item(IDC_EDIT_AP2_RES)), TRUE);
    Refresh(driver, RefreshImage);
    CHECK(DialogFocus(driver.Dialog()) == driver.Item(IDC_EDIT_AP2_RES));
}
