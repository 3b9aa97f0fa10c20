// The correction calculator: which speed adjustment makes the speedometer
// right again after a tyre or final-drive change, or from a GPS comparison.
// Every input is decimal text and all arithmetic is exact (integers and
// fractions), so the result is the same on every processor and thread.
// Portable: no Windows here.
#pragma once

#include "base/result.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

// What a calculation met: success, or which kind of failure.
enum class CalcStatus {
    Ok,
    BadInput,  // an input that is not a tyre size, ratio, speed or setting
    OutOfRange,  // the setting needed lies outside -25.0..25.0
};

// A speedometer reading at one true speed, in tenths of km/h (rounded to
// the nearest tenth, halves up).
struct SpeedometerReading {
    int trueKmh = 0;
    int64_t beforeTenths = 0;  // with the converter's current setting
    int64_t afterTenths = 0;  // with the new setting
};

struct CorrectionResult {
    enum class Kind { Tyre, Gps } kind = Kind::Tyre;
    // Tyre: sizes as given and diameters in hundredths of a mm (rounded to
    // the nearest, halves up).
    std::string oldTyre, newTyre;
    int64_t oldDiameterHundredths = 0, newDiameterHundredths = 0;
    // Final drive, old:new, as given; empty when none.
    std::string drive;
    // GPS: the speedometer's and the GPS's speeds as given.
    std::string indicated, actual;
    int currentTenths = 0;  // the converter's present setting
    int64_t exactMillionths = 0;  // the exact correction in millionths of a percent, nearest
    // The setting, in tenths, rounded up (toward +infinity): the speedometer
    // then reads at or above the true speed. Outside -250..250 on OutOfRange.
    int64_t settingTenths = 0;
    SpeedometerReading readings[3];  // at 50, 100 and 130 km/h; only on Ok
};

// tyre: "205/55R16" (width mm / aspect % R rim inches; "r" and a decimal rim
// such as 16.5 are accepted), drive "3.73:4.10" or empty, current "+2.0" or
// empty for 0. k = D_new / D_old times R_old / R_new, times (1 + current/100).
// A failure says why, and `status` which kind it is; `out` is filled in on
// success and on OutOfRange, and stays as it was on BadInput.
Result CalcTyre(const std::string &oldTyre, const std::string &newTyre, const std::string &drive,
                const std::string &current, CorrectionResult &out, CalcStatus &status);
// k = (1 + current/100) * actual / indicated. Fails as CalcTyre does.
Result CalcGps(const std::string &indicated, const std::string &actual, const std::string &current,
               CorrectionResult &out, CalcStatus &status);

// A tyre's diameter in hundredths of a mm, D = 2 W A / 100 + 25.4 R, rounded
// to the nearest. Refused with a message for anything but a tyre size.
Result TyreDiameter(const std::string &tyre, int64_t &hundredths);

// Millionths of a percent as a signed percentage with `decimals` digits
// (0..6, rounded to the nearest, halves away from zero): 379807, 2 gives
// "+0.38 %"; -86789, 2 gives "-0.09 %".
std::string PercentText(int64_t millionths, int decimals);

// The result as the calc command prints it, and as --json data.
std::string CorrectionText(const CorrectionResult &result);
nlohmann::json CorrectionJson(const CorrectionResult &result);
