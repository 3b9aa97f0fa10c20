#include "config/config_image.h"

#include <doctest.h>

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
    RegisterImage image;
    image.Erase();
    TempTable ap1Five(image, layout::tableAp1_5V);
    CHECK(ap1Five.EntryFits(12));   // 204 + 48 = 252 .. 255
    CHECK_FALSE(ap1Five.EntryFits(13));
    TempTable ap2Res(image, layout::tableAp2Res);
    ap2Res.SetSensorMillivolts(0, 4000);
    CHECK(image.Byte(13) == 0xA0);
    CHECK(image.Byte(14) == 0x0F);
    CHECK(ap2Res.SensorMillivolts(0) == 4000);
    CHECK(ap2Res.PairedValue(0) == 0xFFFF);
}
