#include "settings/image_guards.h"
#include "settings/speed_setting.h"
#include "settings/speed_text.h"
#include "config/default_images.h"
#include "tests/support/core_checks.h"

#include <doctest.h>

#include <functional>
#include <string>
#include <vector>

TEST_CASE("every factory default image passes the guards")
{
    ForEachFactoryDefault(
        [](uint16_t version, uint16_t type) { CHECK(ImplausibleValues(FactoryImage(version, type)).empty()); });
}

TEST_CASE("each value the dialog could never have stored is named")
{
    struct Row {
        const char *what;
        uint16_t version;
        std::function<void(RegisterImage &)> change;
        const char *words;
    } rows[] = {
        {"speed over 25.0 %", 12300, [](RegisterImage &i) { i.SetWord(6, 251); }, "magnitude 251 tenths is over 250"},
        {"negative speed over", 12300, [](RegisterImage &i) { i.SetWord(6, 0xFFFF); }, "magnitude 32767"},
        {"zero with its sign", 12300, [](RegisterImage &i) { i.SetWord(6, 0x8000); }, "stored as 0x8000"},
        {"erased sensor code", 12300, [](RegisterImage &i) { i.SetWord(8, 0xFFFF); }, "speed-sensor code 65535"},
        {"no table", 12300, [](RegisterImage &i) { i.SetByte(11, 0xFF); }, "active table 255 is none of"},
        {"5V table on 10005", 10005, [](RegisterImage &i) { i.SetByte(5, 1), i.SetByte(11, 203); },
         "ap1-5v exists only on firmware 1.23.00, not on 1.00.05"},
        {"wiring against table", 12300, [](RegisterImage &i) { i.SetByte(5, 1); },
         "wiring 1 does not go with the active table ap1-res"},
        {"erased table", 12300, [](RegisterImage &i) { i.SetByte(12, 0xFF); }, "ap2-res table has the count 255"},
        {"AP1 5V past the end", 12300, [](RegisterImage &i) { i.SetByte(203, 20); }, "runs past register 255"},
        {"first not 4000", 10005, [](RegisterImage &i) { TempTable(i, 93).SetSensorMillivolts(0, 3999); },
         "ap1-res table entry 1 (3999 mV) is not 4000 mV"},
        {"above 4000", 12300, [](RegisterImage &i) { TempTable(i, 122).SetSensorMillivolts(1, 4001); },
         "ap2-5v table entry 2 (4001 mV) is above 4000 mV"},
        {"not falling", 12300, [](RegisterImage &i) { TempTable(i, 12).SetSensorMillivolts(5, 471); },
         "ap2-res table entry 6 (471 mV) is not below the entry before it"},
        {"unknown firmware", 12300, [](RegisterImage &i) { i.SetWord(1, 12301); }, "firmware version 12301"},
        {"unknown type", 12300, [](RegisterImage &i) { i.SetWord(3, 1); }, "the type 1 is neither"},
    };
    for (const Row &row : rows) {
        const std::string whatShown = row.what;
        CAPTURE(whatShown);
        RegisterImage image = FactoryImage(row.version, 2);
        row.change(image);
        const std::vector<std::string> problems = ImplausibleValues(image);
        REQUIRE(problems.size() == 1);
        CHECK_MESSAGE(Contains(problems[0], row.words), problems[0]);
    }
}

TEST_CASE("a 5V table is a choice only firmware 12300 has")
{
    RegisterImage image = FactoryImage(10005, 2);
    CHECK(MissingTableChoice(image).empty());
    image.SetByte(layout::activeTable, layout::tableAp2_5V);
    CHECK(MissingTableChoice(image) == "the active table ap2-5v exists only on firmware 1.23.00, not on 1.00.05");
    image.SetWord(layout::firmwareVersion, 12300);
    CHECK(MissingTableChoice(image).empty());
}

TEST_CASE("a file for another firmware or type does not match the converter")
{
    const RegisterImage device = FactoryImage(12300, 2);
    CHECK(IdentityMismatch(FactoryImage(12300, 2), device).empty());
    CHECK(IdentityMismatch(FactoryImage(10005, 2), device) ==
          "the file is for firmware 1.00.05 but the converter has 1.23.00");
    CHECK(IdentityMismatch(FactoryImage(12300, 3), device) ==
          "the file is for a VSS unit (type 3) but the converter is VSS+ECT (type 2)");
    CHECK(Contains(IdentityMismatch(FactoryImage(10005, 3), device),
                   "1.00.05 but the converter has 1.23.00, and for a VSS"));
}

TEST_CASE("the speed setting takes the dialog's range and steps, and nothing but a number")
{
    struct Row {
        const char *text;
        bool ok;
        int tenths;
        const char *words;
    } rows[] = {
        {"+3.5", true, 35, ""},
        {"-25", true, -250, ""},
        {"25.0%", true, 250, ""},
        {"3.50", true, 35, ""},
        {"-0.0", true, 0, ""},
        {"0000000000012.7", true, 127, ""},
        {"-24.9", true, -249, ""},
        {".5", true, 5, ""},
        {"25.1", false, 0, "out of range"},
        {"-25.1", false, 0, "out of range"},
        {"99999999999999999999", false, 0, "out of range"},
        {"3.55", false, 0, "more than one decimal"},
        {"abc", false, 0, "not a number"},
        {"", false, 0, "not a number"},
        {"1e1", false, 0, "not a number"},
        {"3.5 ", false, 0, "not a number"},
        {"+", false, 0, "not a number"},
        {"--1", false, 0, "not a number"},
    };
    for (const Row &row : rows) {
        const std::string textShown = row.text;
        CAPTURE(textShown);
        int tenths = 999;
        const Result parsed = ParseSpeedSetting(row.text, tenths);
        CHECK(parsed.Ok() == row.ok);
        if (row.ok)
            CHECK(tenths == row.tenths);
        else
            CHECK_MESSAGE(Contains(parsed.Message(), row.words), parsed.Message());
    }
    for (int tenths = -250; tenths <= 250; ++tenths) {
        const std::string text = SpeedSettingText(tenths);  // "+0.4 %": the dialog reads the same number
        int cli = 999, dialog = 999;
        REQUIRE(ParseSpeedSetting(text.substr(0, text.size() - 2), cli).Ok());
        REQUIRE(ParseSpeedAdjust(text.c_str(), dialog));
        CHECK(cli == tenths);
        CHECK(dialog == tenths);
    }
    CHECK(SpeedSettingText(4) == "+0.4 %");
    CHECK(SpeedSettingText(-86) == "-8.6 %");
    CHECK(SpeedSettingText(0) == "0.0 %");
}

TEST_CASE("settings change only their own registers, as the dialog's controls would")
{
    struct Row {
        uint16_t version, type;
        const char *assignment;
        std::vector<std::pair<uint8_t, uint8_t>> writes;  // register, new value
        const char *refusal;  // words of the message when refused
    } rows[] = {
        {12300, 2, "speed=+3.5", {{6, 35}}, nullptr},
        {12300, 2, "speed=-2.5", {{6, 25}, {7, 0x80}}, nullptr},
        {12300, 2, "speed=-0.0", {}, nullptr},
        {12300, 2, "sensor=high", {{8, 0}, {9, 0}}, nullptr},
        {12300, 2, "sensor=high-to-low", {{8, 0xD1}, {9, 0x81}}, nullptr},
        {12300, 3, "sensor=s2k", {{8, 0x6F}, {9, 0x01}}, nullptr},
        {12300, 2, "table=ap2-5v", {{5, 1}, {11, 122}}, nullptr},
        {10005, 2, "table=ap2-res", {{11, 12}}, nullptr},
        {12300, 2, "speed=30", {}, "out of range"},
        {12300, 2, "speed=fast", {}, "not a number"},
        {12300, 3, "sensor=low", {}, "not a speed sensor of a VSS unit; choose one of rsx, s2k, general"},
        {12300, 2, "sensor=rsx", {}, "choose one of low, high, high-to-low"},
        {10005, 2, "table=ap1-5v", {}, "exists only on firmware 1.23.00; this unit has 1.00.05"},
        {12300, 3, "table=ap1-res", {}, "no temperature-table choice"},
        {12300, 2, "table=ap3-res", {}, "not a table; choose one of ap1-res, ap2-res, ap1-5v, ap2-5v"},
        {12300, 2, "colour=red", {}, "\"colour\" is not a setting"},
        {12300, 2, "speed", {}, "is not a setting"},
    };
    for (const Row &row : rows) {
        const std::string assignmentShown = row.assignment;
        CAPTURE(assignmentShown);
        const RegisterImage before = FactoryImage(row.version, row.type);
        RegisterImage image = before, expected = before;
        for (const auto &write : row.writes)
            expected.SetByte(write.first, write.second);
        const Result applied = ApplySetting(image, row.assignment);
        CHECK(applied.Ok() == (row.refusal == nullptr));
        if (row.refusal)
            CHECK_MESSAGE(Contains(applied.Message(), row.refusal), applied.Message());
        for (unsigned at = 0; at < imageSize; ++at) {
            CAPTURE(at);
            CHECK(image.bytes[at] == expected.bytes[at]);
        }
    }
}

TEST_CASE("a write sends registers 5 to 255 only: all of them, or those that differ")
{
    const RegisterImage device = FactoryImage(12300, 2);
    RegisterImage target = FactoryImage(10005, 3);
    target.SetByte(4, 0x77);
    const std::vector<uint8_t> changed = RegistersToWrite(device, target, false);
    REQUIRE_FALSE(changed.empty());
    CHECK(changed.front() >= 5);
    for (uint8_t at : changed)
        CHECK(device.bytes[at] != target.bytes[at]);
    CHECK(RegistersToWrite(device, device, false).empty());

    const std::vector<uint8_t> all = RegistersToWrite(device, device, true);
    CHECK(all.size() == 251);
    CHECK(all.front() == 5);
    CHECK(all.back() == 255);
}
