// The Factory Defaults button: the default image of the converter's own
// firmware and type, in memory only, until Write Device sends it.
#include "tests/app/config_fixture.h"

#include "app/resource_ids.h"
#include "config/config_image.h"

#include <doctest.h>

namespace {

const char defaultsText[] =
    "Factory Defaults have been loaded to memory.\nUse \"Write Device\" button to write defaults back to device.";

// A converter of that kind after its owner has changed everything a user
// can change, and whose spare registers hold something.
Registers UsedConverter(uint16_t version, uint16_t type)
{
    Registers registers = DefaultRegisters(version, type);
    registers[5] = 1;  // sensorWiring
    registers[6] = 0x19;  // speedAdjust -2.5
    registers[7] = 0x80;
    registers[8] = 0x00;  // speedSensorCode 0
    registers[9] = 0x00;
    registers[11] = 12;  // activeTable AP2 RES
    registers[98] = 0x00;  // AP1 RES entry 2: 0x0100 mV
    registers[99] = 0x01;
    for (size_t i = version == 12300 ? 232 : 122; i < registers.size(); ++i)
        registers[i] = static_cast<uint8_t>(i * 7);
    return registers;
}

}  // namespace

TEST_CASE("Factory Defaults loads the image of the converter's own firmware and type; Write Device sends it")
{
    const struct {
        uint16_t version, type;
    } pairs[] = {{10005, 3}, {10005, 2}, {12300, 3}, {12300, 2}};
    for (const auto &pair : pairs) {
        CAPTURE(pair.version);
        CAPTURE(pair.type);
        const Registers used = UsedConverter(pair.version, pair.type);
        ReadDialog read(used);
        auto &[converter, driver] = read;
        REQUIRE(driver.Text(IDC_SPEED_ADJUST) == "-2.5");

        driver.Click(IDC_FACTORY_DEFAULTS);
        BoxView box = WaitForBox("Defaults Loaded OK");
        CheckBox(box, "Defaults Loaded OK", defaultsText, {IDOK}, IDI_INFORMATION, true, driver.Dialog());
        // Loaded and shown before the box appears.
        CHECK(ImageBytes() == DefaultRegisters(pair.version, pair.type));
        CHECK(driver.Text(IDC_SPEED_ADJUST) == "0.0");
        if (pair.type == 3) {
            CHECK(driver.Checked(IDC_SENSOR_HIGH_TO_LOW));
            CHECK(driver.Text(IDC_SENSOR_HIGH_TO_LOW) == "RSX");
            CHECK_FALSE(driver.Visible(IDC_SINGLE_WIRE_GROUP));
        } else {
            CHECK(driver.Checked(IDC_SENSOR_LOW_FREQ));
            CHECK(driver.Checked(IDC_TABLE_AP1_RES));
            CHECK_FALSE(driver.Checked(IDC_TABLE_AP2_RES));
            CHECK(driver.Visible(IDC_SINGLE_WIRE_GROUP));
            CHECK(driver.Visible(IDC_TWO_WIRE_GROUP) == (pair.version == 12300));
        }
        CHECK(driver.Enabled(IDC_WRITE_DEVICE));
        CHECK(driver.Enabled(IDC_FACTORY_DEFAULTS));
        PressBoxButton(box, IDOK);

        // Memory only: the converter has not been touched.
        CHECK(NothingWritten(converter));
        CHECK(converter.Registers() == used);

        // Write Device sends registers 5 to 255.
        driver.ClickAndWait(IDC_WRITE_DEVICE);
        CHECK(driver.Text(IDC_STATUS) == " Device Write OK");
        CHECK(converter.Registers() == DefaultRegisters(pair.version, pair.type));
        for (int address = 0; address < 5; ++address)
            CHECK(converter.WritesTo(address) == 0);
    }
}

TEST_CASE("Factory Defaults on an image of no known firmware and type changes nothing")
{
    ReadDialog read(UsedConverter(10005, 2));
    DialogDriver &driver = read.driver;

    const char *message = "";
    SUBCASE("type 1")
    {
        ConfigImage.SetWord(3, 1);
        message = "Wrong firmware type;  0x2715-0x1";
    }
    SUBCASE("an unknown version")
    {
        ConfigImage.SetWord(1, 0x300D);
        ConfigImage.SetWord(3, 3);
        message = "Wrong firmware type;  0x300D-0x3";
    }
    const Registers before = ImageBytes();
    const std::string speed = driver.Text(IDC_SPEED_ADJUST);

    driver.Click(IDC_FACTORY_DEFAULTS);
    BoxView box = WaitForBox("Error");
    CheckBox(box, "Error", message, {IDOK}, IDI_ERROR, true, driver.Dialog());
    PressBoxButton(box, IDOK);

    CHECK(NoBox("Defaults Loaded OK"));
    CHECK(ImageBytes() == before);
    CHECK(driver.Text(IDC_SPEED_ADJUST) == speed);
    CHECK(driver.Checked(IDC_TABLE_AP2_RES));
    CHECK(driver.Checked(IDC_SENSOR_HIGH_FREQ));
}
