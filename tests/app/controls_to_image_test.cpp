// ControlsToImage, run as the worker runs it: the speed-adjustment
// conversion and its range check with the error box, and the radio choices
// copied into the image, hidden ones included.
#include "tests/app/app_fixture.h"

#include "app/controls.h"
#include "app/main_window.h"
#include "app/resource_ids.h"
#include "config/config_image.h"

#include <doctest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>

namespace {

// Stores the text and returns the speed adjustment word, failing the test
// when an error box appears.
uint16_t StoredWord(DialogDriver &driver, const std::string &text)
{
    CAPTURE(text);
    ControlsToImageRun run = StoreSpeedText(driver, text);
    CHECK(run.result != 0);
    CHECK_MESSAGE(run.box.window == nullptr, "unexpected box: ", run.box.text);
    return ConfigImage.SpeedAdjust();
}

void CheckRefused(DialogDriver &driver, const std::string &text)
{
    CAPTURE(text);
    uint8_t before[imageSize];
    std::memcpy(before, ConfigImage.bytes, imageSize);
    ControlsToImageRun run = StoreSpeedText(driver, text);
    CHECK(run.result == 0);
    CheckBox(run.box, "Error", "Speed Adjustment value is out of range!", {IDOK}, IDI_ERROR, true, driver.Dialog());
    CHECK(std::memcmp(before, ConfigImage.bytes, imageSize) == 0);  // nothing stored, radios neither
}

// ControlsToImage with the controls as they are; the sensor code, the
// sensor wiring and the active table it stored.
using Choices = std::tuple<uint16_t, uint8_t, uint8_t>;
Choices StoredChoices()
{
    CHECK(RunControlsToImage().result != 0);
    return Choices{ConfigImage.SpeedSensorCode(), ConfigImage.SensorWiring(), ConfigImage.ActiveTable()};
}

}  // namespace

TEST_CASE_FIXTURE(AppFixture, "controls to image: the documented speed texts")
{
    DialogDriver driver;
    ShowImage(driver, {12300, 2, 0x0019, 367, 93});
    // Zero is never stored with its sign; only the first 9 characters
    // count: "1.2345678e3" is read as "1.2345678".
    const std::pair<const char *, uint16_t> texts[] = {
        {"25.0", 0x00FA}, {"25.09", 0x00FA}, {"-25", 0x80FA}, {"12.7", 127}, {"-24.9", 0x8000 + 249},
        {"1.25", 12},     {"-1.25", 0x800C}, {"0.05", 0},     {"-0.05", 0},  {"5%", 50},
        {"1e1", 100},     {"", 0},           {"abc", 0},      {" 7.5", 75},  {"1.2345678e3", 12},
    };
    for (const auto &text : texts)
        CHECK(StoredWord(driver, text.first) == text.second);
}

TEST_CASE_FIXTURE(AppFixture, "controls to image: out of range, not a number and infinite give the error box")
{
    DialogDriver driver;
    ShowImage(driver, {12300, 2, 0x0019, 367, 93});
    driver.Click(IDC_SENSOR_HIGH_FREQ);  // a choice the refused write must not store either
    driver.Click(IDC_TABLE_AP2_5V);
    for (const char *text :
         {"25.1", "-25.1", "30", "9e9", "1e999", "-1e999", "nan", "inf", "-inf", "Infinity", "3276.7"})
        CheckRefused(driver, text);
    // The main dialog is usable again after the box.
    CHECK(IsWindowEnabled(driver.Dialog()));
}

TEST_CASE_FIXTURE(AppFixture, "controls to image: every one-decimal text from -25.0 to 25.0 keeps its tenths")
{
    DialogDriver driver;
    ShowImage(driver, {});
    for (int tenths = -250; tenths <= 250; ++tenths) {
        const int magnitude = tenths < 0 ? -tenths : tenths;
        char text[16];
        std::snprintf(text, sizeof text, "%s%d.%d", tenths < 0 ? "-" : "", magnitude / 10, magnitude % 10);
        const uint16_t word = StoredWord(driver, text);
        CHECK(word == (tenths < 0 ? 0x8000 + magnitude : magnitude));
        // Shown again as the image now holds it, the text is the same.
        Refresh(driver, RefreshImage);
        CHECK(driver.Text(IDC_SPEED_ADJUST) == (tenths == 0 ? std::string("0.0") : std::string(text)));
    }
}

TEST_CASE_FIXTURE(AppFixture, "controls to image: the sensor and table choices, hidden ones included")
{
    DialogDriver driver;
    highToLowUnlocked = 1;
    ShowImage(driver, {12300, 2, 0, 367, 93, 0});
    // Each click, and the sensor code, wiring and table stored after it.
    const struct {
        int radio;
        Choices stored;
    } clicks[] = {
        {IDC_SENSOR_HIGH_TO_LOW, {33233, 0, 93}}, {IDC_SENSOR_HIGH_FREQ, {0, 0, 93}}, {IDC_TABLE_AP2_5V, {0, 1, 122}},
        {IDC_SENSOR_LOW_FREQ, {367, 1, 122}},     {IDC_TABLE_AP2_RES, {367, 0, 12}},  {IDC_TABLE_AP1_5V, {367, 1, 203}},
        {IDC_TABLE_AP1_RES, {367, 0, 93}},
    };
    for (const auto &click : clicks) {
        CAPTURE(click.radio);
        driver.Click(click.radio);
        CHECK(StoredChoices() == click.stored);
    }

    SUBCASE("nothing checked (unknown code and table, type 3 tables) keeps what the image had")
    {
        ShowImage(driver, {12300, 2, 0, 1, 0xFF, 0x5A});
        CHECK(StoredChoices() == Choices{1, 0x5A, 0xFF});
        ShowImage(driver, {12300, 3, 0, 367, 93, 0x5A});
        CHECK(StoredChoices() == Choices{367, 0x5A, 93});
    }
    SUBCASE("hidden but checked keeps its value until the user picks another")
    {
        highToLowUnlocked = 0;
        ShowImage(driver, {10005, 2, 0, 33233, 203, 0});
        REQUIRE_FALSE(driver.Visible(IDC_SENSOR_HIGH_TO_LOW));
        REQUIRE_FALSE(driver.Visible(IDC_TABLE_AP1_5V));
        CHECK(StoredChoices() == Choices{33233, 1, 203});
        driver.Click(IDC_SENSOR_LOW_FREQ);
        driver.Click(IDC_TABLE_AP2_RES);
        CHECK_FALSE(driver.Checked(IDC_SENSOR_HIGH_TO_LOW));
        CHECK_FALSE(driver.Checked(IDC_TABLE_AP1_5V));
        CHECK(StoredChoices() == Choices{367, 0, 12});
    }
    SUBCASE("type 3: RSX, S2K and General")
    {
        ShowImage(driver, {12300, 3, 0, 367, 93, 0});
        for (const auto &click : {std::make_pair(IDC_SENSOR_HIGH_TO_LOW, 33233),
                                  std::make_pair(IDC_SENSOR_HIGH_FREQ, 0), std::make_pair(IDC_SENSOR_LOW_FREQ, 367)}) {
            driver.Click(click.first);
            CHECK(StoredChoices() == Choices{static_cast<uint16_t>(click.second), 0, 93});
        }
    }
}

TEST_CASE_FIXTURE(AppFixture, "controls to image: only the four fields change")
{
    DialogDriver driver;
    ShowImage(driver, {12300, 2, 0x0019, 367, 93, 0});
    for (unsigned i = 12; i < imageSize; ++i)
        ConfigImage.SetByte(static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7));
    ConfigImage.SetByte(0, 0x42);
    ConfigImage.SetByte(layout::reserved10, 0x24);
    uint8_t before[imageSize];
    std::memcpy(before, ConfigImage.bytes, imageSize);

    driver.SetText(IDC_SPEED_ADJUST, "-3.3");
    driver.Click(IDC_SENSOR_HIGH_FREQ);
    driver.Click(IDC_TABLE_AP2_5V);
    REQUIRE(RunControlsToImage().result != 0);
    for (unsigned i = 0; i < imageSize; ++i) {
        if (i >= layout::sensorWiring && i <= layout::speedSensorCode + 1u)
            continue;
        if (i == layout::activeTable)
            continue;
        CAPTURE(i);
        CHECK(ConfigImage.bytes[i] == before[i]);
    }
    CHECK(ConfigImage.SpeedAdjust() == 0x8021);
    CHECK(ConfigImage.SpeedSensorCode() == 0);
    CHECK(ConfigImage.SensorWiring() == 1);
    CHECK(ConfigImage.ActiveTable() == 122);
}
