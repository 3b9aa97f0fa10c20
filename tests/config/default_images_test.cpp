#include "config/config_image.h"
#include "config/default_images.h"

#include <doctest.h>

#include <cstring>
#include <sstream>
#include <vector>

namespace {

// The whole VSS+ECT 12300 image as the converter's firmware has it.
const char *const vssEct12300Hex = "00 0C 30 02 00 00 00 00 6F 01 00 5D 14 A0 0F 10 "
                                   "05 57 04 AB 04 F2 02 85 04 68 02 5D 04 D7 01 33 "
                                   "04 72 01 0A 04 13 01 DC 03 CC 00 41 03 A0 00 AB "
                                   "02 7C 00 87 02 66 00 59 02 5D 00 1A 02 56 00 DD "
                                   "01 4F 00 9F 01 4B 00 61 01 47 00 32 01 42 00 14 "
                                   "01 41 00 F5 00 3F 00 96 00 39 00 63 00 07 A0 0F "
                                   "11 05 72 01 AD 04 7C 00 0A 04 5D 00 29 02 56 00 "
                                   "70 01 48 00 12 01 3E 00 B6 00 14 A0 0F 10 05 1D "
                                   "0C AB 04 E3 06 85 04 E2 05 5D 04 16 05 33 04 72 "
                                   "04 0A 04 EA 03 DC 03 7A 03 41 03 1B 03 AB 02 CB "
                                   "02 87 02 87 02 59 02 68 02 1A 02 4C 02 DD 01 31 "
                                   "02 9F 01 18 02 61 01 0A 02 32 01 FD 01 14 01 F0 "
                                   "01 F5 00 E3 01 96 00 D7 01 63 00 07 A0 0F 11 05 "
                                   "72 04 AD 04 CB 02 0A 04 68 02 29 02 4C 02 70 01 "
                                   "18 02 12 01 EC 01 B6 00";

std::vector<uint8_t> HexBytes(const char *hex)
{
    std::vector<uint8_t> bytes;
    std::istringstream in(hex);
    unsigned value;
    while (in >> std::hex >> value)
        bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

const uint16_t ap2ResMillivolts[20] = {4000, 1111, 754, 616, 471, 370, 275, 204, 160, 124,
                                       102,  93,   86,  79,  75,  71,  66,  65,  63,  57};
const uint16_t ap2EctFiveMillivolts[20] = {4000, 3101, 1763, 1506, 1302, 1138, 1002, 890, 795, 715,
                                           647,  616,  588,  561,  536,  522,  509,  496, 483, 471};
const uint16_t ap2Paired[20] = {1296, 1195, 1157, 1117, 1075, 1034, 988, 833, 683, 647,
                                601,  538,  477,  415,  353,  306,  276, 245, 150, 99};
const uint16_t ap1ResMillivolts[7] = {4000, 370, 124, 93, 86, 72, 62};
const uint16_t ap1EctFiveMillivolts[7] = {4000, 1138, 715, 616, 588, 536, 492};
const uint16_t ap1Paired[7] = {1297, 1197, 1034, 553, 368, 274, 182};

void CheckTable(RegisterImage &image, uint8_t offset, const uint16_t *millivolts, const uint16_t *paired,
                unsigned count)
{
    TempTable table(image, offset);
    REQUIRE(table.Count() == count);
    for (unsigned i = 0; i < count; ++i) {
        CAPTURE(offset);
        CAPTURE(i);
        CHECK(table.SensorMillivolts(i) == millivolts[i]);
        CHECK(table.PairedValue(i) == paired[i]);
    }
}

RegisterImage Loaded(const DefaultImage &image)
{
    RegisterImage loaded;
    std::memset(loaded.bytes, 0x5A, sizeof loaded.bytes);  // whatever it held before
    loaded.LoadPrefix(image.bytes, image.length);
    return loaded;
}

// The VSS unit's image from its VSS+ECT twin: type 3, speed-sensor code 0x81D1.
std::vector<uint8_t> AsVss(std::vector<uint8_t> image)
{
    image[3] = 0x03;
    image[8] = 0xD1;
    image[9] = 0x81;
    return image;
}

// Each of the expected bytes stands at the same place in `actual`.
void CheckBytes(const uint8_t *actual, const std::vector<uint8_t> &expected)
{
    for (size_t i = 0; i < expected.size(); ++i) {
        CAPTURE(i);
        CHECK(actual[i] == expected[i]);
    }
}

}  // namespace

TEST_CASE("defaultVssEct12300 is byte for byte the firmware's image")
{
    const std::vector<uint8_t> expected = HexBytes(vssEct12300Hex);
    REQUIRE(expected.size() == 232);
    REQUIRE(sizeof defaultVssEct12300 == 232);
    CheckBytes(defaultVssEct12300, expected);
}

TEST_CASE("the other three images follow from it by their header fields")
{
    const std::vector<uint8_t> ect12300 = HexBytes(vssEct12300Hex);

    SUBCASE("defaultVss12300: type 3, sensor 0x81D1, RES voltages in the 5V tables")
    {
        REQUIRE(sizeof defaultVss12300 == 232);
        std::vector<uint8_t> expected = AsVss(ect12300);
        // AP2 5V (122..202) and AP1 5V (203..231) repeat AP2 RES (12..92) and AP1 RES (93..121).
        for (size_t i = 0; i < 110; ++i)
            expected[122 + i] = ect12300[12 + i];
        CheckBytes(defaultVss12300, expected);
    }
    SUBCASE("the 10005 images: the first 122 bytes with version 0x2715")
    {
        REQUIRE(sizeof defaultVss10005 == 122);
        REQUIRE(sizeof defaultVssEct10005 == 122);
        std::vector<uint8_t> ect(ect12300.begin(), ect12300.begin() + 122);
        ect[1] = 0x15;
        ect[2] = 0x27;
        CheckBytes(defaultVssEct10005, ect);
        CheckBytes(defaultVss10005, AsVss(ect));
    }
}

TEST_CASE("every default image holds its fields and tables")
{
    struct Case {
        const char *name;
        uint16_t version, type, sensorCode;
        size_t length;
    } cases[] = {
        {"defaultVss10005", 10005, 3, 33233, 122},
        {"defaultVssEct10005", 10005, 2, 367, 122},
        {"defaultVss12300", 12300, 3, 33233, 232},
        {"defaultVssEct12300", 12300, 2, 367, 232},
    };
    for (const Case &c : cases) {
        CAPTURE(c.name);
        const DefaultImage found = FindDefaultImage(c.version, c.type);
        REQUIRE(found.bytes != nullptr);
        CHECK(found.length == c.length);
        RegisterImage image = Loaded(found);
        CHECK(image.Byte(layout::reserved0) == 0);
        CHECK(image.FirmwareVersion() == c.version);
        CHECK(image.FirmwareType() == c.type);
        CHECK(image.SensorWiring() == 0);
        CHECK(image.SpeedAdjust() == 0);
        CHECK(image.SpeedSensorCode() == c.sensorCode);
        CHECK(image.Byte(layout::reserved10) == 0);
        CHECK(image.ActiveTable() == layout::tableAp1Res);
        CheckTable(image, layout::tableAp2Res, ap2ResMillivolts, ap2Paired, 20);
        CheckTable(image, layout::tableAp1Res, ap1ResMillivolts, ap1Paired, 7);
        if (c.version == 12300) {
            const bool ect = c.type == 2;
            CheckTable(image, layout::tableAp2_5V, ect ? ap2EctFiveMillivolts : ap2ResMillivolts, ap2Paired, 20);
            CheckTable(image, layout::tableAp1_5V, ect ? ap1EctFiveMillivolts : ap1ResMillivolts, ap1Paired, 7);
        }
        for (size_t i = c.length; i < imageSize; ++i) {
            CAPTURE(i);
            CHECK(image.bytes[i] == 0xFF);
        }
    }
}

TEST_CASE("default images are found by version and type only")
{
    CHECK(FindDefaultImage(10005, 3).bytes == defaultVss10005);
    CHECK(FindDefaultImage(10005, 2).bytes == defaultVssEct10005);
    CHECK(FindDefaultImage(12300, 3).bytes == defaultVss12300);
    CHECK(FindDefaultImage(12300, 2).bytes == defaultVssEct12300);
    CHECK(FindDefaultImage(12300, 2).length == 232);
    CHECK(FindDefaultImage(10005, 3).length == 122);

    const uint16_t unknown[][2] = {{10005, 1}, {12300, 1}, {12300, 4}, {10005, 0},      {0xFFFF, 0xFFFF},
                                   {10006, 2}, {12301, 3}, {0, 0},     {0x300C, 0x0203}};
    for (const auto &pair : unknown) {
        CAPTURE(pair[0]);
        CAPTURE(pair[1]);
        const DefaultImage none = FindDefaultImage(pair[0], pair[1]);
        CHECK(none.bytes == nullptr);
        CHECK(none.length == 0);
    }
}

TEST_CASE("the format questions choose the image: ECT picks the type, the connector the firmware")
{
    CHECK(FormatDefaultImage(true, true).bytes == defaultVssEct12300);
    CHECK(FormatDefaultImage(false, true).bytes == defaultVss12300);
    CHECK(FormatDefaultImage(true, false).bytes == defaultVssEct10005);
    CHECK(FormatDefaultImage(false, false).bytes == defaultVss10005);
    CHECK(FormatDefaultImage(true, false).length == 122);
    CHECK(FormatDefaultImage(false, true).length == 232);
}
