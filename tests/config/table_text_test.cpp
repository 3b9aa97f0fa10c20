#include "config/config_image.h"
#include "config/converter_choices.h"
#include "config/default_images.h"
#include "config/table_text.h"
#include "tests/support/portable_checks.h"

#include <doctest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

// The AP1 RES table of the default images, as the editor shows it.
const char *const ap1ResText =
    "01) 4000mV\r\n02) 0370mV\r\n03) 0124mV\r\n04) 0093mV\r\n05) 0086mV\r\n06) 0072mV\r\n07) 0062mV\r\n";

// Lines 2 to 7 of that table, for texts that vary only the first line.
const std::string ap1ResTail = "02) 0370mV\r\n03) 0124mV\r\n04) 0093mV\r\n05) 0086mV\r\n06) 0072mV\r\n07) 0062mV\r\n";

TableTextOutcome ParseAp1Res(const std::string &text)
{
    RegisterImage image = FactoryImage(12300, 2);
    return ParseTableLines(image, layout::tableAp1Res, text.c_str());
}

std::string MessageFor(const std::string &text) { return TableTextMessage(ParseAp1Res(text)); }

}  // namespace

TEST_CASE("a table shows as numbered lines of four-digit millivolts")
{
    RegisterImage image = FactoryImage(12300, 2);
    std::string text;
    REQUIRE(BuildTableText(image, layout::tableAp1Res, text));
    CHECK(text == ap1ResText);

    REQUIRE(BuildTableText(image, layout::tableAp2_5V, text));
    CHECK(text.rfind("01) 4000mV\r\n02) 3101mV\r\n03) 1763mV\r\n", 0) == 0);
    CHECK(text.size() == 20 * 12);
    CHECK(text.substr(text.size() - 12) == "20) 0471mV\r\n");

    SUBCASE("a value above 9999 prints with five digits")
    {
        TempTable(image, layout::tableAp1Res).SetSensorMillivolts(1, 65535);
        REQUIRE(BuildTableText(image, layout::tableAp1Res, text));
        CHECK(text.rfind("01) 4000mV\r\n02) 65535mV\r\n03) 0124mV\r\n", 0) == 0);
    }
}

TEST_CASE("each table offset has its caption")
{
    CHECK(std::string(TableCaption(93)) == "AP1 RES Table Edit");
    CHECK(std::string(TableCaption(12)) == "AP2 RES Table Edit");
    CHECK(std::string(TableCaption(203)) == "AP1 5V Table Edit");
    CHECK(std::string(TableCaption(122)) == "AP2 5V Table Edit");
    CHECK(std::string(TableCaption(0)) == "Temperature Table Edit");
    CHECK(std::string(TableCaption(94)) == "Temperature Table Edit");
}

TEST_CASE("a table that is not 7 or 20 entries, or would run past byte 255, is refused")
{
    RegisterImage image = FactoryImage(12300, 2);
    const RegisterImage before = image;
    std::string text = "unchanged";

    SUBCASE("an erased table")
    {
        image.SetByte(layout::tableAp1Res, 0xFF);
        CHECK_FALSE(BuildTableText(image, layout::tableAp1Res, text));
        CHECK(text.empty());
        const TableTextOutcome outcome = ParseTableLines(image, layout::tableAp1Res, ap1ResText);
        CHECK(outcome.problem == TableTextProblem::TableNotValid);
        CHECK(TableTextMessage(outcome) == "AP Table Data is NOT valid; 0xFF");
    }
    SUBCASE("counts next to the valid ones")
    {
        for (uint8_t count : std::initializer_list<uint8_t>{0, 6, 8, 19, 21, 0x7F}) {
            CAPTURE(count);
            image.SetByte(layout::tableAp2Res, count);
            CHECK_FALSE(TableEditable(image, layout::tableAp2Res));
            CHECK_FALSE(BuildTableText(image, layout::tableAp2Res, text));
        }
        image.SetByte(layout::tableAp2Res, 0);
        CHECK(TableTextMessage(ParseTableLines(image, layout::tableAp2Res, "01) 4000mV")) ==
              "AP Table Data is NOT valid; 0x0");
    }
    SUBCASE("an AP1 5V table whose count reads 20 is never wrapped into the image's start")
    {
        image.SetByte(layout::tableAp1_5V, 20);
        CHECK_FALSE(TableEditable(image, layout::tableAp1_5V));
        CHECK_FALSE(BuildTableText(image, layout::tableAp1_5V, text));
        // Even a text that would pass for 20 entries stores nothing.
        std::string twenty;
        for (int n = 1; n <= 20; ++n) {
            char line[32];
            std::snprintf(line, sizeof line, "%02d) %04dmV\r\n", n, 4000 - (n - 1) * 100);
            twenty += line;
        }
        const TableTextOutcome outcome = ParseTableLines(image, layout::tableAp1_5V, twenty.c_str());
        CHECK(outcome.problem == TableTextProblem::TableNotValid);
        CHECK(TableTextMessage(outcome) == "AP Table Data is NOT valid; 0x14");
        StoreTableMillivolts(image, layout::tableAp1_5V, outcome);
        image.SetByte(layout::tableAp1_5V, 7);
        CHECK(std::memcmp(image.bytes, before.bytes, imageSize) == 0);
    }
    SUBCASE("every other table fits with 20 entries")
    {
        for (uint8_t offset : {layout::tableAp2Res, layout::tableAp1Res, layout::tableAp2_5V}) {
            CAPTURE(offset);
            image.SetByte(offset, 20);
            CHECK(TableEditable(image, offset));
        }
        CHECK(TableEditable(image, layout::tableAp1_5V));  // count 7: 204..231
    }
}

TEST_CASE("every default table survives show-then-read unchanged")
{
    const DefaultImage images[] = {FindDefaultImage(10005, 3), FindDefaultImage(10005, 2), FindDefaultImage(12300, 3),
                                   FindDefaultImage(12300, 2)};
    for (const DefaultImage &defaults : images) {
        RegisterImage image = LoadedImage(defaults);
        const RegisterImage before = image;
        const bool fiveVolt = image.FirmwareVersion() == 12300;
        for (uint8_t offset : {layout::tableAp1Res, layout::tableAp2Res, layout::tableAp1_5V, layout::tableAp2_5V}) {
            if (!fiveVolt && (offset == layout::tableAp1_5V || offset == layout::tableAp2_5V))
                continue;
            CAPTURE(image.FirmwareVersion());
            CAPTURE(image.FirmwareType());
            CAPTURE(offset);
            std::string text;
            REQUIRE(BuildTableText(image, offset, text));
            const TableTextOutcome outcome = ParseTableLines(image, offset, text.c_str());
            REQUIRE(outcome.problem == TableTextProblem::None);
            CHECK(outcome.count == image.Byte(offset));
            StoreTableMillivolts(image, offset, outcome);
            CHECK(std::memcmp(image.bytes, before.bytes, imageSize) == 0);
        }
    }
}

TEST_CASE("storing a table changes its voltages and nothing else")
{
    RegisterImage image = FactoryImage(12300, 2);
    const RegisterImage before = image;
    const TableTextOutcome outcome = ParseTableLines(
        image, layout::tableAp1Res, "1) 4000\r\n2) 3000\r\n3) 2000\r\n4) 1000\r\n5) 500\r\n6) 10\r\n7) 0\r\n");
    REQUIRE(outcome.problem == TableTextProblem::None);
    CHECK(TableTextMessage(outcome).empty());
    StoreTableMillivolts(image, layout::tableAp1Res, outcome);

    TempTable table(image, layout::tableAp1Res);
    const uint16_t expected[7] = {4000, 3000, 2000, 1000, 500, 10, 0};
    for (unsigned i = 0; i < 7; ++i)
        CHECK(table.SensorMillivolts(i) == expected[i]);
    // Every other byte, the paired values among them, is as it was.
    for (unsigned at = 0; at < imageSize; ++at) {
        const bool voltageByte = at >= 94 && at < 122 && (at - 94) % 4 < 2;
        if (!voltageByte) {
            CAPTURE(at);
            CHECK(image.bytes[at] == before.bytes[at]);
        }
    }
}

TEST_CASE("the first line: accepted forms and its 4000 mV rule")
{
    SUBCASE("no leading zero, no unit; no bracket; a plus sign")
    {
        for (const char *first :
             {"1) 4000", "1 4000", "+1) 4000mV", "01) 4000mV trailing words", "01)  \t 4000mV", "1)\t4000"}) {
            CAPTURE(first);
            // "1)\t4000" is one field of six characters with nothing after it.
            const bool malformed = std::strcmp(first, "1)\t4000") == 0;
            const TableTextOutcome outcome = ParseAp1Res(std::string(first) + "\r\n" + ap1ResTail);
            CHECK(outcome.problem == (malformed ? TableTextProblem::Malformed : TableTextProblem::None));
            if (!malformed)
                CHECK(outcome.millivolts[0] == 4000);
        }
    }
    SUBCASE("3999 must be 4000; 4001 is out of range")
    {
        CHECK(MessageFor("01) 3999mV\r\n" + ap1ResTail) == "Line1 mV must be 4000");
        CHECK(MessageFor("01) 4001mV\r\n" + ap1ResTail) == "Invalid mV value at line number 1");
        CHECK(MessageFor("01) -1mV\r\n" + ap1ResTail) == "Invalid mV value at line number 1");
        CHECK(MessageFor("01) mV\r\n" + ap1ResTail) == "Line1 mV must be 4000");
    }
}

TEST_CASE("malformed lines name the line that was expected")
{
    CHECK(MessageFor(" 01) 4000mV\r\n" + ap1ResTail) == "Data at line 1 is malformed");
    CHECK(MessageFor("01)\t4000mV\r\n" + ap1ResTail) == "Data at line 1 is malformed");
    CHECK(MessageFor("1,4000\r\n" + ap1ResTail) == "Data at line 1 is malformed");
    CHECK(MessageFor("01)\r\n" + ap1ResTail) == "Data at line 1 is malformed");
    CHECK(MessageFor("   \r\n" + ap1ResTail) == "Data at line 1 is malformed");
    CHECK(MessageFor(",\r\n" + ap1ResTail) == "Data at line 1 is malformed");
    CHECK(MessageFor("01) 4000mV\r\n02) ,370\r\n") == "Data at line 2 is malformed");
    CHECK(MessageFor("01) 4000mV\r\n02) 0370mV\r\n03)0124mV\r\n") == "Data at line 3 is malformed");
}

TEST_CASE("each field is at most ten characters")
{
    // The first field stops after ten characters; the bracket is the second.
    CHECK(MessageFor("0000000001) 4000mV\r\n" + ap1ResTail) == "Line1 mV must be 4000");
    CHECK(ParseAp1Res("0000000001 4000mV\r\n" + ap1ResTail).problem == TableTextProblem::None);
    // The second field keeps its first ten characters: 0000004000.
    const TableTextOutcome outcome = ParseAp1Res("1) 00000040001\r\n" + ap1ResTail);
    CHECK(outcome.problem == TableTextProblem::None);
    CHECK(outcome.millivolts[0] == 4000);
}

TEST_CASE("voltages: zero, no digits, equal and rising values")
{
    const std::string head = "01) 4000mV\r\n02) 0370mV\r\n03) 0124mV\r\n04) 0093mV\r\n05) 0086mV\r\n";
    SUBCASE("a second field without digits counts as 0, and 0 is valid")
    {
        const TableTextOutcome outcome = ParseAp1Res(head + "06) 0072mV\r\n07) abc\r\n");
        REQUIRE(outcome.problem == TableTextProblem::None);
        CHECK(outcome.millivolts[6] == 0);
        CHECK(ParseAp1Res(head + "06) 0072mV\r\n07) 0\r\n").problem == TableTextProblem::None);
        CHECK(MessageFor(head + "06) 0\r\n07) abc\r\n") == "Invalid mV value at line number 7");
    }
    SUBCASE("two equal voltages: the second is refused")
    {
        CHECK(MessageFor(head + "06) 0086mV\r\n07) 0062mV\r\n") == "Invalid mV value at line number 6");
    }
    SUBCASE("a rising voltage is refused")
    {
        CHECK(MessageFor("01) 4000mV\r\n02) 0370mV\r\n03) 0371mV\r\n") == "Invalid mV value at line number 3");
    }
}

TEST_CASE("line numbers run 1, 2, 3 without a gap")
{
    CHECK(MessageFor("01) 4000mV\r\n03) 0370mV\r\n") == "Wrong line number at line 2");
    CHECK(MessageFor("02) 4000mV\r\n") == "Wrong line number at line 1");
    CHECK(MessageFor("00) 4000mV\r\n") == "Wrong line number at line 1");
    CHECK(MessageFor("-1) 4000mV\r\n") == "Wrong line number at line 1");
    CHECK(MessageFor("a) 4000mV\r\n") == "Wrong line number at line 1");
    CHECK(MessageFor("01) 4000mV\r\n01) 0370mV\r\n") == "Wrong line number at line 2");
    // The line number is checked before the voltage.
    CHECK(MessageFor("01) 4000mV\r\n05) 9999mV\r\n") == "Wrong line number at line 2");
}

TEST_CASE("numbers too large for a 32-bit conversion never wrap into valid ones")
{
    CHECK(MessageFor("4294967297) 4000mV\r\n" + ap1ResTail) == "Wrong line number at line 1");
    CHECK(MessageFor("2147483649) 4000mV\r\n" + ap1ResTail) == "Wrong line number at line 1");
    CHECK(MessageFor("01) 4294971296\r\n" + ap1ResTail) == "Invalid mV value at line number 1");
    CHECK(MessageFor("01) 4294971296mV\r\n" + ap1ResTail) == "Invalid mV value at line number 1");
    CHECK(MessageFor("01) 4000mV\r\n02) 4294967666\r\n") == "Invalid mV value at line number 2");
    CHECK(MessageFor("01) -4294963296\r\n" + ap1ResTail) == "Invalid mV value at line number 1");
    CHECK(MessageFor("01) 0000065536\r\n" + ap1ResTail) == "Invalid mV value at line number 1");
}

TEST_CASE("empty lines are neither counted nor numbered; the count must match")
{
    SUBCASE("empty lines anywhere, CR or LF alone")
    {
        const TableTextOutcome outcome = ParseAp1Res("\r\n\r\n01) 4000mV\n\n02) 0370mV\r\r03) 0124mV\r\n\r\n\r\n04) "
                                                     "0093mV\n05) 0086mV\r06) 0072mV\r\n07) 0062mV");
        CHECK(outcome.problem == TableTextProblem::None);
        CHECK(outcome.count == 7);
        CHECK(outcome.millivolts[6] == 62);
    }
    SUBCASE("line breaks only") { CHECK(MessageFor("\r\n\r\n\n\r") == "Expected 7 values, but 0 were found"); }
    SUBCASE("an empty text")
    {
        const TableTextOutcome outcome = ParseAp1Res("");
        CHECK(outcome.problem == TableTextProblem::NoData);
        CHECK(TableTextMessage(outcome) == "No Data found!");
    }
    SUBCASE("a line short")
    {
        CHECK(MessageFor("01) 4000mV\r\n02) 0370mV\r\n03) 0124mV\r\n04) 0093mV\r\n05) 0086mV\r\n06) 0072mV\r\n") ==
              "Expected 7 values, but 6 were found");
    }
    SUBCASE("21 valid lines for 20 entries store nothing")
    {
        std::string text;
        for (int n = 1; n <= 21; ++n) {
            char line[32];
            std::snprintf(line, sizeof line, "%02d) %04dmV\r\n", n, 4000 - (n - 1) * 150);
            text += line;
        }
        RegisterImage image = FactoryImage(12300, 2);
        const RegisterImage before = image;
        const TableTextOutcome outcome = ParseTableLines(image, layout::tableAp2Res, text.c_str());
        CHECK(outcome.problem == TableTextProblem::WrongCount);
        CHECK(TableTextMessage(outcome) == "Expected 20 values, but 21 were found");
        StoreTableMillivolts(image, layout::tableAp2Res, outcome);
        CHECK(std::memcmp(image.bytes, before.bytes, imageSize) == 0);
        // A twenty-second line that breaks the rules is still checked.
        CHECK(TableTextMessage(ParseTableLines(image, layout::tableAp2Res, (text + "22) 5000mV").c_str())) ==
              "Invalid mV value at line number 22");
    }
}

// The line scan against the C library's own sscanf("%10[^, ] %10[^, ]") and
// a conversion that cannot overflow, over many generated single lines.
TEST_CASE("the line scan agrees with sscanf on generated lines")
{
    const char alphabet[] = "0123456789 ,\t+-)mVx1";
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof alphabet) - 2);
    std::uniform_int_distribution<int> length(0, 26);
    int compared = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string line;
        for (int n = length(random); n > 0; --n)
            line += alphabet[pick(random)];
        if (round % 3 == 0)
            line = "1" + line;  // more lines that reach the later checks
        CAPTURE(line);

        char first[11] = {}, second[11] = {};
        const int fields = std::sscanf(line.c_str(), "%10[^, ] %10[^, ]", first, second);
        const TableTextOutcome outcome = ParseAp1Res(line);
        if (line.find_first_not_of(" ") == std::string::npos && !line.empty()) {
            CHECK(outcome.problem == TableTextProblem::Malformed);
            continue;
        }
        if (line.empty()) {
            CHECK(outcome.problem == TableTextProblem::NoData);
            continue;
        }
        if (fields < 2) {
            CHECK(outcome.problem == TableTextProblem::Malformed);
            continue;
        }
        const long long number = std::strtoll(first, nullptr, 10);
        const long long millivolts = std::strtoll(second, nullptr, 10);
        TableTextProblem expected = TableTextProblem::WrongCount;  // one good line of seven
        if (number != 1)
            expected = TableTextProblem::WrongLineNumber;
        else if (millivolts < 0 || millivolts > 4000)
            expected = TableTextProblem::InvalidMillivolts;
        else if (millivolts != 4000)
            expected = TableTextProblem::FirstNotFull;
        CHECK(outcome.problem == expected);
        ++compared;
    }
    CHECK(compared > 1000);
}
