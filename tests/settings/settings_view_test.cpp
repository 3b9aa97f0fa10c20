#include "settings/settings_view.h"
#include "settings/table_svg.h"
#include "config/default_images.h"
#include "tests/support/core_checks.h"

#include <doctest.h>

#include <functional>
#include <random>
#include <set>
#include <string>

TEST_CASE("firmware and type read as the dialog names them")
{
    CHECK(FirmwareText(10005) == "1.00.05");
    CHECK(FirmwareText(12300) == "1.23.00");
    CHECK(FirmwareText(0xFFFF) == "6.55.35");
    CHECK(FirmwareText(0) == "0.00.00");
    CHECK(TypeText(2) == "VSS+ECT");
    CHECK(TypeText(3) == "VSS");
    CHECK(Contains(TypeText(1), "treated like type 2"));
    CHECK(TypeText(0xFFFF) == "unknown");
}

TEST_CASE("speed sensors are named by the unit's type, both ways")
{
    struct Row {
        uint16_t type;
        const char *name;
        uint16_t code;
        const char *label;
    } rows[] = {
        {2, "low", 367, "Low Freq (Gear Driven)"},
        {2, "high", 0, "High Freq (Magnetic)"},
        {2, "high-to-low", 33233, "High to Low"},
        {1, "low", 367, "Low Freq (Gear Driven)"},
        {3, "rsx", 33233, "RSX"},
        {3, "s2k", 367, "S2K"},
        {3, "general", 0, "General"},
    };
    for (const Row &row : rows) {
        const std::string nameShown = row.name;
        CAPTURE(nameShown);
        SensorInfo byName{}, byCode{};
        REQUIRE(FindSensorByName(row.type, row.name, byName));
        CHECK(byName.code == row.code);
        REQUIRE(FindSensorByCode(row.type, row.code, byCode));
        CHECK(std::string(byCode.name) == row.name);
        CHECK(std::string(byCode.label) == row.label);
    }
    SensorInfo unused{};
    CHECK_FALSE(FindSensorByName(3, "low", unused));
    CHECK_FALSE(FindSensorByName(2, "rsx", unused));
    CHECK_FALSE(FindSensorByName(4, "low", unused));
    CHECK(SensorText(2, 1) == "code 1 (no choice)");
}

TEST_CASE("the four tables by name and by offset")
{
    struct Row {
        const char *name;
        uint8_t offset;
        const char *title;
        uint8_t wiring;
        bool on10005;
    } rows[] = {
        {"ap1-res", 93, "AP1 RES", 0, true},
        {"ap2-res", 12, "AP2 RES", 0, true},
        {"ap1-5v", 203, "AP1 5V", 1, false},
        {"ap2-5v", 122, "AP2 5V", 1, false},
    };
    for (const Row &row : rows) {
        const std::string nameShown = row.name;
        CAPTURE(nameShown);
        const TableInfo *table = FindTableByName(row.name);
        REQUIRE(table);
        CHECK(FindTableByOffset(row.offset) == table);
        CHECK(std::string(table->title) == row.title);
        CHECK(table->wiring == row.wiring);
        CHECK(TableOnFirmware(*table, 10005) == row.on10005);
        CHECK(TableOnFirmware(*table, 12300));
    }
    CHECK(FindTableByName("AP1-RES") == nullptr);
    CHECK(FindTableByOffset(11) == nullptr);
}

TEST_CASE("show describes every setting and each table entry by entry")
{
    RegisterImage image = FactoryImage(12300, 2);
    image.SetWord(layout::speedAdjust, 0x8019);
    const std::string text = DescribeImage(image);
    CheckContainsEach(text, {"firmware          12300 (1.23.00)\n", "speed adjustment  -2.5 %\n",
                             "speed sensor      low (Low Freq (Gear Driven), code 367)\n",
                             "active table      ap1-res (AP1 RES, offset 93)\n",
                             "ap1-5v (AP1 5V, offset 203), 7 entries\n  01)  4000 mV   paired  1297\n"});

    const nlohmann::json json = DescribeImageJson(image);
    CHECK(json["speed_adjustment"]["tenths"] == -25);
    CHECK(json["registers"].get<std::string>().size() == 512);
    CHECK(json["tables"][0]["entries"].size() == 20);
    CHECK(json["tables"][0]["entries"][1]["sensor_mv"] == 1111);

    SUBCASE("a table the firmware lacks, or with a count that is not valid, is said so")
    {
        RegisterImage old = FactoryImage(10005, 2);
        old.SetByte(layout::tableAp2Res, 0xFF);
        const std::string oldText = DescribeImage(old);
        CheckContainsEach(oldText, {"ap1-5v (AP1 5V, offset 203): not on firmware 1.00.05\n",
                                    "ap2-res (AP2 RES, offset 12): count 255 (0xFF) is not valid"});
        CHECK(DescribeImageJson(old)["tables"][0]["entries"].empty());
    }
    SUBCASE("an AP1 5V table whose count reads 20 is shown up to register 255, never wrapped")
    {
        image.SetByte(layout::tableAp1_5V, 20);
        const std::string all = DescribeImage(image);
        const std::string overText = all.substr(all.find("ap1-5v (AP1 5V"));
        CHECK(Contains(overText, "  13) "));
        CHECK_FALSE(Contains(overText, "  14) "));
        CHECK(Contains(overText, "entries 14 to 20 would lie past register 255"));
        CHECK(DescribeImageJson(image)["tables"][3]["entries"].size() == 13);
    }
}

TEST_CASE("diff names each changed field and its registers")
{
    struct Row {
        const char *what;
        std::function<void(RegisterImage &)> change;
        const char *field;
        std::vector<uint8_t> registers;
        const char *after;
    } rows[] = {
        {"speed", [](RegisterImage &i) { i.SetWord(6, 0x0123); }, "speed adjustment", {6, 7}, "29.1 % (0x0123)"},
        {"zero's sign", [](RegisterImage &i) { i.SetWord(6, 0x8000); }, "speed adjustment", {7}, "0.0 % (0x8000)"},
        {"sensor",
         [](RegisterImage &i) { i.SetWord(8, 0); },
         "speed sensor",
         {8, 9},
         "high (High Freq (Magnetic), code 0)"},
        {"table", [](RegisterImage &i) { i.SetByte(11, 12); }, "active table", {11}, "ap2-res (AP2 RES, offset 12)"},
        {"wiring",
         [](RegisterImage &i) { i.SetByte(5, 1); },
         "sensor wiring",
         {5},
         "1 (two wire K-series sensor, 5V tables)"},
        {"version", [](RegisterImage &i) { i.SetWord(1, 10005); }, "firmware version", {1, 2}, "10005 (1.00.05)"},
        {"type", [](RegisterImage &i) { i.SetWord(3, 3); }, "type", {3}, "3 (VSS)"},
        {"reserved", [](RegisterImage &i) { i.SetByte(10, 7); }, "register 10", {10}, "7 (0x07)"},
        {"count", [](RegisterImage &i) { i.SetByte(93, 20); }, "ap1-res count", {93}, "20 (0x14)"},
        {"voltage",
         [](RegisterImage &i) { TempTable(i, 93).SetSensorMillivolts(2, 125); },
         "ap1-res entry 3 sensor mV",
         {102},
         "125"},
        {"paired",
         [](RegisterImage &i) { i.SetWord(203 + 1 + 4 * 6 + 2, 0xFFFF); },
         "ap1-5v entry 7 paired value",
         {230, 231},
         "65535"},
        {"spare", [](RegisterImage &i) { i.SetByte(255, 0); }, "register 255", {255}, "0 (0x00)"},
    };
    const RegisterImage base = FactoryImage(12300, 2);
    for (const Row &row : rows) {
        const std::string whatShown = row.what;
        CAPTURE(whatShown);
        RegisterImage changed = base;
        row.change(changed);
        const std::vector<FieldDifference> differences = DiffImages(base, changed);
        REQUIRE(differences.size() == 1);
        CHECK(differences[0].field == row.field);
        CHECK(differences[0].registers == row.registers);
        CHECK(differences[0].after == row.after);
    }
    CHECK(DiffImages(base, base).empty());

    SUBCASE("on firmware 10005 the bytes from 122 on are plain registers")
    {
        RegisterImage old = FactoryImage(10005, 2), changed = FactoryImage(10005, 2);
        changed.SetByte(130, 0);
        const std::vector<FieldDifference> differences = DiffImages(old, changed);
        REQUIRE(differences.size() == 1);
        CHECK(differences[0].field == "register 130");
        CHECK(DifferencesText(differences) == "register 130: 255 (0xFF) -> 0 (0x00) (register 130)\n");
        CHECK(DiffJson(differences)[0]["registers"][0] == 130);
    }
}

TEST_CASE("every differing byte belongs to exactly one difference")
{
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        RegisterImage a = FactoryImage(round % 2 ? 10005 : 12300, 2), b = a;
        for (int n = 0; n < 1 + round % 40; ++n)
            b.bytes[random() % imageSize] = static_cast<uint8_t>(random());
        std::set<unsigned> expected, seen;
        for (unsigned at = 0; at < imageSize; ++at)
            if (a.bytes[at] != b.bytes[at])
                expected.insert(at);
        size_t total = 0;
        for (const FieldDifference &difference : DiffImages(a, b)) {
            total += difference.registers.size();
            seen.insert(difference.registers.begin(), difference.registers.end());
        }
        CHECK(seen == expected);
        CHECK(total == expected.size());
    }
}

TEST_CASE("a table chart shows the entries that fit, and refuses a table that is not valid")
{
    RegisterImage image = FactoryImage(12300, 2);
    std::string svg;
    REQUIRE(TableSvg(image, layout::tableAp2Res, svg).Ok());
    CHECK(svg.rfind("<?xml", 0) == 0);
    CheckContainsEach(svg, {"<title>AP2 RES table (ap2-res): sensor voltage by entry</title>", "sensor voltage (mV)",
                            "<title>entry 20: 57 mV</title>"});

    image.SetByte(layout::tableAp1_5V, 20);
    REQUIRE(TableSvg(image, layout::tableAp1_5V, svg).Ok());
    CHECK(Contains(svg, "<title>entry 13: "));
    CHECK_FALSE(Contains(svg, "<title>entry 14: "));

    image.SetByte(layout::tableAp1Res, 0xFF);
    const Result refused = TableSvg(image, layout::tableAp1Res, svg);
    CHECK_FALSE(refused.Ok());
    CHECK(svg.empty());
    CHECK(Contains(refused.Message(), "count 255 is not valid"));
    CHECK_FALSE(TableSvg(image, 11, svg).Ok());
}
