#include "config/config_image.h"
#include "config/register_rows.h"
#include "tests/support/core_checks.h"

#include <doctest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

TEST_CASE("image words are little-endian, byte by byte, at odd offsets too")
{
    RegisterImage image;
    image.SetWord(layout::firmwareVersion, 12300);
    CHECK(image.Byte(1) == 0x0C);
    CHECK(image.Byte(2) == 0x30);
    CHECK(image.FirmwareVersion() == 12300);
    image.SetWord(255, 0x1234);
    CHECK(image.Byte(255) == 0x34);
    CHECK(image.Byte(0) == 0x12);
    CHECK(image.Word(255) == 0x1234);
}

TEST_CASE("erase and prefix load")
{
    RegisterImage image;
    const uint8_t prefix[3] = {1, 2, 3};
    image.LoadPrefix(prefix, 3);
    CHECK(image.Byte(0) == 1);
    CHECK(image.Byte(2) == 3);
    for (int i = 3; i < 256; ++i)
        CHECK(image.Byte(static_cast<uint8_t>(i)) == 0xFF);
}

TEST_CASE("a table never reaches past the last byte")
{
    // Bytes right behind the image, where an entry past byte 255 would land.
    struct Guarded {
        RegisterImage image;
        uint8_t after[40];  // as far as entry 20 of the table at 203 would reach
    } guarded;
    static_assert(offsetof(Guarded, after) == imageSize, "the guard follows the image");
    RegisterImage &image = guarded.image;
    image.Erase();
    for (uint8_t &byte : guarded.after)
        byte = 0x5A;

    TempTable ap1Five(image, layout::tableAp1_5V);
    CHECK(ap1Five.EntryFits(12));  // 204 + 48 = 252 .. 255
    CHECK_FALSE(ap1Five.EntryFits(13));
    // An index so large that its offset would wrap round to the table's own.
    CHECK_FALSE(ap1Five.EntryFits(0x40000000u));
    CHECK_FALSE(TempTable(image, 252).EntryFits(0));  // 253 .. 256
    CHECK(TempTable(image, 251).EntryFits(0));  // 252 .. 255

    // The last entry that fits is read and written like any other; an entry
    // past the end reads as erased and is never written.
    ap1Five.SetSensorMillivolts(12, 0x1234);
    CHECK(image.Byte(252) == 0x34);
    CHECK(image.Byte(253) == 0x12);
    CHECK(ap1Five.SensorMillivolts(12) == 0x1234);
    for (unsigned entry : {13u, 20u, 0x40000000u}) {
        CAPTURE(entry);
        const RegisterImage before = image;
        ap1Five.SetSensorMillivolts(entry, 0x0102);
        CHECK(std::memcmp(image.bytes, before.bytes, imageSize) == 0);
        CHECK(ap1Five.SensorMillivolts(entry) == 0xFFFF);
        CHECK(ap1Five.PairedValue(entry) == 0xFFFF);
    }
    for (uint8_t byte : guarded.after)
        CHECK(byte == 0x5A);

    TempTable ap2Res(image, layout::tableAp2Res);
    ap2Res.SetSensorMillivolts(0, 4000);
    CHECK(image.Byte(13) == 0xA0);
    CHECK(image.Byte(14) == 0x0F);
    CHECK(ap2Res.SensorMillivolts(0) == 4000);
    CHECK(ap2Res.PairedValue(0) == 0xFFFF);
}

TEST_CASE("register rows: the 16 rows found among other lines; a file without them refused, registers untouched")
{
    uint8_t registers[256];
    for (unsigned i = 0; i < 256; ++i)
        registers[i] = static_cast<uint8_t>(i * 7);
    const std::string rows = FormatRegisterRows(registers);
    std::string crlf;
    for (char c : "# a comment\nformat = zyr-backup 1\n" + rows + "crc32 = 00000000\n")
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    // The rows in another order read the same.
    const std::string reversed = rows.substr(rows.find("80:")) + rows.substr(0, rows.find("80:"));
    for (const std::string &good : {rows, crlf, reversed}) {
        uint8_t read[256] = {};
        REQUIRE(RegistersFromRows(good, read).Ok());
        CHECK(std::equal(read, read + 256, registers));
    }

    CheckRegistersRefused(RegistersFromRows,
                          {{rows.substr(0, rows.rfind("F0:")), "holds 15 of the 16 register rows"},
                           {rows + rows.substr(rows.find("40:"), 52), "the row \"40: "},
                           {rows.substr(0, rows.rfind("F0:")) + "F8:" + rows.substr(rows.rfind("F0:") + 3), "\"F8: "},
                           {"", "holds 0 of the 16"}});
}
