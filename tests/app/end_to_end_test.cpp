// A user's session: read a converter, change every setting the dialog
// offers and one temperature table, write, read back.
#include "tests/app/config_fixture.h"

#include "app/resource_ids.h"
#include "config/config_image.h"

#include <doctest.h>

TEST_CASE("every change reaches the converter and nothing else changes")
{
    Registers original = DefaultRegisters(12300, 2);
    original[6] = 0x19;  // +2.5 %
    original[7] = 0x00;
    for (size_t i = 232; i < original.size(); ++i)
        original[i] = static_cast<uint8_t>(i);  // spare registers keep what they hold
    ReadDialog read(original);
    auto &[converter, driver] = read;
    CHECK(driver.Text(IDC_SPEED_ADJUST) == "2.5");
    CHECK(driver.Checked(IDC_SENSOR_LOW_FREQ));
    CHECK(driver.Checked(IDC_TABLE_AP1_RES));

    driver.SetText(IDC_SPEED_ADJUST, "-12.5");
    driver.Click(IDC_SENSOR_HIGH_FREQ);
    driver.Click(IDC_TABLE_AP2_5V);

    Editor editor = OpenEditor(driver, IDC_EDIT_AP1_RES, "AP1 RES Table Edit");
    editor.SetText(
        "01) 4000mV\r\n02) 0400mV\r\n03) 0130mV\r\n04) 0093mV\r\n05) 0080mV\r\n06) 0070mV\r\n07) 0060mV\r\n");
    editor.Click(IDC_TABLE_OK);
    REQUIRE(editor.Closed());

    driver.Click(IDC_WRITE_DEVICE);
    REQUIRE(driver.WaitIdle());
    driver.Sync();
    REQUIRE(driver.Text(IDC_STATUS) == " Device Write OK");

    Registers expected = original;
    expected[5] = 1;  // two-wire sensor
    expected[6] = 0x7D;  // -12.5 %: 0x8000 + 125
    expected[7] = 0x80;
    expected[8] = 0;  // High Freq (Magnetic)
    expected[9] = 0;
    expected[11] = 122;  // AP2 5V
    const int millivolts[7] = {4000, 400, 130, 93, 80, 70, 60};
    for (int i = 0; i < 7; ++i) {
        expected[94 + 4 * i] = static_cast<uint8_t>(millivolts[i] & 0xFF);
        expected[95 + 4 * i] = static_cast<uint8_t>(millivolts[i] >> 8);
    }
    CHECK(converter.Registers() == expected);

    // Read back: the dialog shows what the converter now holds.
    ReadConverter(driver);
    CHECK(ImageBytes() == expected);
    CHECK(driver.Text(IDC_SPEED_ADJUST) == "-12.5");
    CHECK(driver.Checked(IDC_SENSOR_HIGH_FREQ));
    CHECK_FALSE(driver.Checked(IDC_SENSOR_LOW_FREQ));
    CHECK(driver.Checked(IDC_TABLE_AP2_5V));
    CHECK_FALSE(driver.Checked(IDC_TABLE_AP1_RES));
    Editor again = OpenEditor(driver, IDC_EDIT_AP1_RES, "AP1 RES Table Edit");
    CHECK(again.Text() ==
          "01) 4000mV\r\n02) 0400mV\r\n03) 0130mV\r\n04) 0093mV\r\n05) 0080mV\r\n06) 0070mV\r\n07) 0060mV\r\n");
    again.Click(IDC_TABLE_CANCEL);
    REQUIRE(again.Closed());
}
