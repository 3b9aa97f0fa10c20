#include "settings/correction_calc.h"
#include "tests/support/core_checks.h"

#include <doctest.h>

#include <string>

namespace {

// The speedometer never reads below the true speed with the new setting.
void CheckNeverLow(const CorrectionResult &result)
{
    for (const SpeedometerReading &reading : result.readings)
        CHECK(reading.afterTenths >= reading.trueKmh * 10);
}

}  // namespace

TEST_CASE("the worked examples come out exactly")
{
    CorrectionResult result;
    CalcStatus status = CalcStatus::BadInput;

    REQUIRE(CalcTyre("205/55R16", "225/45R17", "", "", result, status).Ok());
    REQUIRE(status == CalcStatus::Ok);
    CHECK(result.oldDiameterHundredths == 63190);
    CHECK(result.newDiameterHundredths == 63430);
    CHECK(PercentText(result.exactMillionths, 2) == "+0.38 %");
    CHECK(result.settingTenths == 4);
    CHECK(result.readings[1].beforeTenths == 996);
    CHECK(result.readings[1].afterTenths == 1000);
    CheckNeverLow(result);
    const std::string text = CorrectionText(result);
    CheckContainsEach(text,
                      {"diameter 631.9 mm", "exact correction  +0.38 % (+0.379807 %)\n", "setting           +0.4 %"});
    CHECK(CorrectionJson(result)["setting"]["tenths"] == 4);

    REQUIRE(CalcTyre("205/55R16", "225/45R17", "3.73:4.10", "", result, status).Ok());
    REQUIRE(status == CalcStatus::Ok);
    CHECK(PercentText(result.exactMillionths, 2) == "-8.68 %");
    CHECK(result.exactMillionths == -8678859);
    CHECK(result.settingTenths == -86);
    CheckNeverLow(result);

    REQUIRE(CalcGps("100", "96", "+2.0", result, status).Ok());
    REQUIRE(status == CalcStatus::Ok);
    CHECK(result.exactMillionths == -2080000);
    CHECK(result.settingTenths == -20);
    CHECK(result.currentTenths == 20);
    CHECK(result.readings[1].beforeTenths == 1042);  // 100 * 1.02 / 0.9792
    CheckNeverLow(result);
    CHECK(CorrectionJson(result)["exact"]["text"] == "-2.08 %");
}

TEST_CASE("the setting is rounded up to a tenth; an exact tenth stays; beyond 25.0 % is refused")
{
    struct Row {
        const char *indicated, *actual, *current;
        CalcStatus status;
        int64_t setting;
    } rows[] = {
        {"100", "101", "", CalcStatus::Ok, 10},  // exactly +1.0
        {"100", "99", "", CalcStatus::Ok, -10},  // exactly -1.0
        {"100", "100.05", "", CalcStatus::Ok, 1},  // +0.05 up to +0.1
        {"100", "100.0001", "", CalcStatus::Ok, 1},  // the least bit above up
        {"100", "99.95", "", CalcStatus::Ok, 0},  // -0.05 up to 0.0
        {"100", "99.9", "", CalcStatus::Ok, -1},  // exactly -0.1
        {"100", "99.8999", "", CalcStatus::Ok, -1},  // -0.1001 up to -0.1
        {"100", "100", "+2.0", CalcStatus::Ok, 20},  // nothing to correct keeps the current
        {"100", "125", "", CalcStatus::Ok, 250},  // +25.0 exactly, the top
        {"100", "75", "", CalcStatus::Ok, -250},  // -25.0 exactly, the bottom
        {"100", "74.99", "", CalcStatus::Ok, -250},  // -25.01 rounds up into range
        {"100", "125.01", "", CalcStatus::OutOfRange, 251},
        {"100", "74.9", "", CalcStatus::OutOfRange, -251},
        {"100", "96", "-25.0", CalcStatus::OutOfRange, -280},
        {"0.0001", "9999.9999", "+25", CalcStatus::OutOfRange, 0},  // far beyond: no overflow
    };
    for (const Row &row : rows) {
        const std::string actualShown = row.actual;
        CAPTURE(actualShown);
        const std::string currentShown = row.current;
        CAPTURE(currentShown);
        CorrectionResult result;
        CalcStatus status = CalcStatus::BadInput;
        const Result calculated = CalcGps(row.indicated, row.actual, row.current, result, status);
        CHECK(status == row.status);
        CHECK(calculated.Ok() == (row.status == CalcStatus::Ok));
        if (row.status == CalcStatus::Ok) {
            CHECK(result.settingTenths == row.setting);
            CheckNeverLow(result);
        } else {
            CHECK_MESSAGE(Contains(calculated.Message(), "outside the converter's range of -25.0 % to +25.0 %"),
                          calculated.Message());
            if (row.setting != 0)
                CHECK(result.settingTenths == row.setting);
        }
    }
}

TEST_CASE("tyre sizes: lower case, a decimal rim and a speed-rating letter are read")
{
    struct Row {
        const char *tyre;
        int64_t hundredths;
    } rows[] = {
        {"205/55R16", 63190},  {"205/55r16", 63190},  {"205/55R16.5", 64460},
        {"225/45ZR17", 63430}, {"205/55 R16", 63190}, {"195.5/65.5R15", 63711},
    };
    for (const Row &row : rows) {
        const std::string tyreShown = row.tyre;
        CAPTURE(tyreShown);
        int64_t hundredths = 0;
        REQUIRE(TyreDiameter(row.tyre, hundredths).Ok());
        CHECK(hundredths == row.hundredths);
    }
}

TEST_CASE("nonsense is refused with its cause")
{
    struct Row {
        const char *oldTyre, *newTyre, *drive, *current;
        const char *words;
    } rows[] = {
        {"205/55", "225/45R17", "", "", "is not like 205/55R16"},
        {"205/55R", "225/45R17", "", "", "is not like 205/55R16"},
        {"tyre", "225/45R17", "", "", "is not like 205/55R16"},
        {"-205/55R16", "225/45R17", "", "", "is not like 205/55R16"},
        {"205/55R16.555", "225/45R17", "", "", "up to 2 decimals"},
        {"2050/55R16", "225/45R17", "", "", "up to 3 digits"},
        {"0/55R16", "225/45R17", "", "", "of zero"},
        {"205/55R16", "225/45R17x", "", "", "\"225/45R17x\" is not like"},
        {"205/55R16", "225/45R17", "3.73", "", "is not like 3.73:4.10"},
        {"205/55R16", "225/45R17", "3.73:0", "", "new final drive ratio \"0\" must be above zero"},
        {"205/55R16", "225/45R17", "3.73:4,10", "", "new final drive ratio \"4,10\" is not a number"},
        {"205/55R16", "225/45R17", "", "+30", "current setting: speed adjustment +30 is out of range"},
        {"205/55R16", "225/45R17", "", "two", "current setting: speed adjustment \"two\" is not a number"},
    };
    for (const Row &row : rows) {
        const std::string oldTyreShown = row.oldTyre;
        CAPTURE(oldTyreShown);
        const std::string newTyreShown = row.newTyre;
        CAPTURE(newTyreShown);
        CorrectionResult result;
        CalcStatus status = CalcStatus::Ok;
        const Result calculated = CalcTyre(row.oldTyre, row.newTyre, row.drive, row.current, result, status);
        CHECK(status == CalcStatus::BadInput);
        CHECK_MESSAGE(Contains(calculated.Message(), row.words), calculated.Message());
    }
    CorrectionResult result;
    CalcStatus status = CalcStatus::Ok;
    const Result calculated = CalcGps("0", "96", "", result, status);
    CHECK(status == CalcStatus::BadInput);
    CHECK(Contains(calculated.Message(), "indicated speed \"0\" must be above zero"));
    CHECK_FALSE(CalcGps("100", "", "", result, status).Ok());
    CHECK(status == CalcStatus::BadInput);
    CHECK_FALSE(CalcTyre("999.99/999.99R99.99", "0.01/0.01R0.01", "9999.9999:0.0001", "-25", result, status).Ok());
    CHECK(status == CalcStatus::OutOfRange);
}

TEST_CASE("percentages show with their sign, rounded half away from zero")
{
    CHECK(PercentText(379807, 2) == "+0.38 %");
    CHECK(PercentText(-8678859, 2) == "-8.68 %");
    CHECK(PercentText(-5000, 2) == "-0.01 %");
    CHECK(PercentText(-4999, 2) == "0.00 %");
    CHECK(PercentText(2080000, 6) == "+2.080000 %");
    CHECK(PercentText(-250000000, 0) == "-250 %");
}
