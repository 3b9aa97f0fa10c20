#include "settings/correction_calc.h"

#include "settings/exact_number.h"
#include "settings/speed_setting.h"
#include "settings/speed_text.h"
#include "config/register_rows.h"

#include <cstdio>

namespace {

// A correction factor as an exact fraction.
struct Factor {
    WideUnsigned numerator = WideUnsigned::From(1);
    WideUnsigned denominator = WideUnsigned::From(1);

    void MultiplyBy(uint64_t num, uint64_t den)
    {
        numerator = Multiply(numerator, WideUnsigned::From(num));
        denominator = Multiply(denominator, WideUnsigned::From(den));
    }
    // Times the ratio of two decimals, brought to the same scale.
    void MultiplyBy(const Decimal &num, const Decimal &den)
    {
        MultiplyBy(num.units * PowerOfTen(den.decimals), den.units * PowerOfTen(num.decimals));
    }
};

// The factor of the setting in use: 1 + current / 1000.
Factor CurrentFactor(int64_t currentTenths)
{
    Factor factor;
    factor.MultiplyBy(static_cast<uint64_t>(1000 + currentTenths), 1000);
    return factor;
}

constexpr int trueSpeeds[3] = {50, 100, 130};

// Tyre sizes: width mm with up to 3 digits, aspect % with up to 3, rim
// inches with up to 2, each with up to 2 decimals. The diameter in units of
// 1/500000 mm then stays far inside 64 bits.
constexpr unsigned tyreDecimals = 2;

// Hundredths of the decimal, exactly; the caller keeps decimals <= 2.
uint64_t Hundredths(const Decimal &value) { return value.units * PowerOfTen(tyreDecimals - value.decimals); }

// A diameter in units of 1/500000 mm as hundredths of a mm, rounded.
int64_t DiameterHundredths(uint64_t units) { return static_cast<int64_t>((units + 2500) / 5000); }

// The diameter D = 2 W A / 100 + 25.4 R in units of 1/500000 mm: with W, A
// and R in hundredths, D * 500000 = W A + 127000 R.
Result TyreDiameterUnits(const std::string &tyre, uint64_t &units)
{
    const std::string shape = "tyre size \"" + tyre + "\" is not like 205/55R16 (width mm / aspect % R rim inches)";
    const size_t slash = tyre.find('/');
    if (slash == std::string::npos)
        return Result::Fail(shape);
    size_t r = tyre.find_first_of("Rr", slash + 1);
    if (r == std::string::npos)
        return Result::Fail(shape);
    size_t aspectEnd = r;
    if (aspectEnd > slash + 1 && (tyre[aspectEnd - 1] == 'Z' || tyre[aspectEnd - 1] == 'z'))
        --aspectEnd;  // "225/45ZR17": the speed-rating letter
    const std::string widthText = TrimBlanks(tyre.substr(0, slash));
    const std::string aspectText = TrimBlanks(tyre.substr(slash + 1, aspectEnd - slash - 1));
    const std::string rimText = TrimBlanks(tyre.substr(r + 1));
    Decimal width, aspect, rim;
    if (!ParseDecimal(widthText, 3, tyreDecimals, width) || !ParseDecimal(aspectText, 3, tyreDecimals, aspect) ||
        !ParseDecimal(rimText, 2, tyreDecimals, rim))
        return Result::Fail(shape +
                            "; width and aspect take up to 3 digits, the rim up to 2, each with up to 2 decimals");
    if (width.units == 0 || aspect.units == 0 || rim.units == 0)
        return Result::Fail("tyre size \"" + tyre + "\" has a width, aspect or rim of zero");
    units = Hundredths(width) * Hundredths(aspect) + 127000 * Hundredths(rim);
    return Result::Success();
}

// Tenths of a percent from "--current"; empty means none set.
Result ParseCurrent(const std::string &current, int &tenths)
{
    tenths = 0;
    if (current.empty())
        return Result::Success();
    const Result parsed = ParseSpeedSetting(current, tenths);
    return parsed ? parsed : Result::Fail("current setting: " + parsed.Message());
}

// A positive speed or ratio: up to 4 digits before the point and 4 after.
Result ParsePositive(const std::string &text, const std::string &what, Decimal &value)
{
    if (!ParseDecimal(text, 4, 4, value))
        return Result::Fail(what + " \"" + text +
                            "\" is not a number such as 96 or 3.73 (up to 4 digits before the point and "
                            "4 after)");
    if (value.units == 0)
        return Result::Fail(what + " \"" + text + "\" must be above zero");
    return Result::Success();
}

// scale * F rounded as asked, minus `offset`, for F = numerator / denominator.
enum class Rounding { Up, Nearest };

bool Scaled(const Factor &factor, uint64_t scale, int64_t offset, Rounding rounding, int64_t &result)
{
    int64_t quotient = 0;
    WideUnsigned remainder;
    const WideUnsigned numerator = Multiply(factor.numerator, WideUnsigned::From(scale));
    if (!DivideWithRemainder(numerator, factor.denominator, quotient, remainder))
        return false;
    int64_t value = quotient - offset;  // plus remainder / denominator, in [0, 1)
    if (rounding == Rounding::Up) {
        if (!remainder.IsZero())
            ++value;
    } else {
        const int half = Compare(Multiply(remainder, WideUnsigned::From(2)), factor.denominator);
        // Halves away from zero: up when the exact value is not negative.
        if (half > 0 || (half == 0 && value >= 0))
            ++value;
    }
    result = value;
    return true;
}

// The speedometer at `trueKmh` with setting `tenths`, in tenths of km/h:
// true * (1 + s/100) / F, nearest.
int64_t Reading(const Factor &factor, int trueKmh, int64_t tenths)
{
    Factor reading;
    reading.numerator = Multiply(factor.denominator, WideUnsigned::From(static_cast<uint64_t>(1000 + tenths)));
    reading.denominator = Multiply(factor.numerator, WideUnsigned::From(1000));
    int64_t value = 0;
    Scaled(reading, static_cast<uint64_t>(trueKmh) * 10, 0, Rounding::Nearest, value);
    return value;
}

Result Settle(const Factor &factor, CorrectionResult &out, CalcStatus &status)
{
    // The setting: (F - 1) * 1000 tenths, rounded toward +infinity.
    int64_t setting = 0;
    const bool settingFits = Scaled(factor, 1000, 1000, Rounding::Up, setting);
    int64_t exact = 0;
    const bool exactFits = Scaled(factor, 100000000, 100000000, Rounding::Nearest, exact);
    if (!settingFits || setting > speedAdjustLimit || setting < -speedAdjustLimit) {
        out.settingTenths = settingFits ? setting : 0;
        out.exactMillionths = exactFits ? exact : 0;
        status = CalcStatus::OutOfRange;
        std::string message = "the correction needed";
        if (exactFits)
            message += ", " + PercentText(exact, 2) + ",";
        return Result::Fail(message + " lies outside the converter's range of -25.0 % to +25.0 %");
    }
    out.settingTenths = setting;
    out.exactMillionths = exact;
    for (unsigned i = 0; i < 3; ++i) {
        out.readings[i].trueKmh = trueSpeeds[i];
        out.readings[i].beforeTenths = Reading(factor, trueSpeeds[i], out.currentTenths);
        out.readings[i].afterTenths = Reading(factor, trueSpeeds[i], setting);
    }
    status = CalcStatus::Ok;
    return Result::Success();
}

// Settles `result` from `factor` and hands it out, in range or not.
Result Finish(const Factor &factor, CorrectionResult &result, CorrectionResult &out, CalcStatus &status)
{
    const Result settled = Settle(factor, result, status);
    out = result;
    return settled;
}

// `value` in units of 1 / `scale` (10 or 100) with `digits` decimals (1 or 2): "631.95".
std::string DecimalText(int64_t value, int64_t scale, int digits)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%0*lld", static_cast<long long>(value / scale), digits,
                  static_cast<long long>(value % scale));
    return text;
}

// Hundredths as "631.9" or "631.95": at least one decimal.
std::string DiameterText(int64_t hundredths)
{
    return hundredths % 10 == 0 ? DecimalText(hundredths / 10, 10, 1) : DecimalText(hundredths, 100, 2);
}

std::string KmhText(int64_t tenths) { return DecimalText(tenths, 10, 1); }

std::string SettingText(int64_t tenths) { return SpeedSettingText(static_cast<int>(tenths)); }

}  // namespace

Result TyreDiameter(const std::string &tyre, int64_t &hundredths)
{
    uint64_t units = 0;
    const Result read = TyreDiameterUnits(tyre, units);
    if (read)
        hundredths = DiameterHundredths(units);
    return read;
}

Result CalcTyre(const std::string &oldTyre, const std::string &newTyre, const std::string &drive,
                const std::string &current, CorrectionResult &out, CalcStatus &status)
{
    CorrectionResult result;
    result.kind = CorrectionResult::Kind::Tyre;
    result.oldTyre = oldTyre;
    result.newTyre = newTyre;
    result.drive = drive;
    status = CalcStatus::BadInput;  // until every input has been read; `out` stays as it was
    uint64_t oldUnits = 0, newUnits = 0;
    if (const Result read = TyreDiameterUnits(oldTyre, oldUnits); !read)
        return read;
    if (const Result read = TyreDiameterUnits(newTyre, newUnits); !read)
        return read;
    if (const Result read = ParseCurrent(current, result.currentTenths); !read)
        return read;
    result.oldDiameterHundredths = DiameterHundredths(oldUnits);
    result.newDiameterHundredths = DiameterHundredths(newUnits);

    Factor factor = CurrentFactor(result.currentTenths);
    factor.MultiplyBy(newUnits, oldUnits);
    if (!drive.empty()) {
        const size_t colon = drive.find(':');
        Decimal oldRatio, newRatio;
        if (colon == std::string::npos)
            return Result::Fail("final drive \"" + drive + "\" is not like 3.73:4.10 (old ratio:new ratio)");
        if (const Result read = ParsePositive(drive.substr(0, colon), "old final drive ratio", oldRatio); !read)
            return read;
        if (const Result read = ParsePositive(drive.substr(colon + 1), "new final drive ratio", newRatio); !read)
            return read;
        // The sensor turns before the differential: k = old / new.
        factor.MultiplyBy(oldRatio, newRatio);
    }
    return Finish(factor, result, out, status);
}

Result CalcGps(const std::string &indicated, const std::string &actual, const std::string &current,
               CorrectionResult &out, CalcStatus &status)
{
    CorrectionResult result;
    result.kind = CorrectionResult::Kind::Gps;
    result.indicated = indicated;
    result.actual = actual;
    status = CalcStatus::BadInput;  // until every input has been read; `out` stays as it was
    Decimal indicatedSpeed, actualSpeed;
    if (const Result read = ParsePositive(indicated, "indicated speed", indicatedSpeed); !read)
        return read;
    if (const Result read = ParsePositive(actual, "actual (GPS) speed", actualSpeed); !read)
        return read;
    if (const Result read = ParseCurrent(current, result.currentTenths); !read)
        return read;
    Factor factor = CurrentFactor(result.currentTenths);
    factor.MultiplyBy(actualSpeed, indicatedSpeed);
    return Finish(factor, result, out, status);
}

std::string PercentText(int64_t millionths, int decimals)
{
    if (decimals < 0)
        decimals = 0;
    if (decimals > 6)
        decimals = 6;
    const bool negative = millionths < 0;
    uint64_t magnitude = negative ? 0u - static_cast<uint64_t>(millionths) : static_cast<uint64_t>(millionths);
    const uint64_t step = PowerOfTen(static_cast<unsigned>(6 - decimals));
    magnitude = (magnitude + step / 2) / step;  // halves away from zero
    const uint64_t unit = PowerOfTen(static_cast<unsigned>(decimals));
    std::string text = magnitude == 0 ? "" : (negative ? "-" : "+");
    text += std::to_string(magnitude / unit);
    if (decimals > 0) {
        std::string fraction = std::to_string(magnitude % unit);
        text += "." + std::string(static_cast<size_t>(decimals) - fraction.size(), '0') + fraction;
    }
    return text + " %";
}

std::string CorrectionText(const CorrectionResult &result)
{
    std::string text;
    if (result.kind == CorrectionResult::Kind::Tyre) {
        text += "old tyre          " + result.oldTyre + ", diameter " + DiameterText(result.oldDiameterHundredths) +
                " mm\n";
        text += "new tyre          " + result.newTyre + ", diameter " + DiameterText(result.newDiameterHundredths) +
                " mm\n";
        if (!result.drive.empty())
            text += "final drive       " + result.drive + " (old:new)\n";
    } else {
        text += "speedometer       " + result.indicated + " (indicated)\n";
        text += "GPS               " + result.actual + " (actual)\n";
    }
    text += "current setting   " + SettingText(result.currentTenths) + "\n";
    text += "exact correction  " + PercentText(result.exactMillionths, 2) + " (" +
            PercentText(result.exactMillionths, 6) + ")\n";
    text += "setting           " + SettingText(result.settingTenths) +
            " (rounded up, so the speedometer never reads below the true speed)\n\n";

    char line[128];
    const std::string with = "with " + SettingText(result.settingTenths);
    std::snprintf(line, sizeof line, "true speed   speedometer now   %s\n", with.c_str());
    text += line;
    for (const SpeedometerReading &reading : result.readings) {
        std::snprintf(line, sizeof line, "%5d km/h   %10s km/h   %*s km/h\n", reading.trueKmh,
                      KmhText(reading.beforeTenths).c_str(), static_cast<int>(with.size()) - 5,
                      KmhText(reading.afterTenths).c_str());
        text += line;
    }
    return text;
}

nlohmann::json CorrectionJson(const CorrectionResult &result)
{
    using nlohmann::json;
    json out;
    if (result.kind == CorrectionResult::Kind::Tyre) {
        out["kind"] = "tyre";
        out["old_tyre"] = {{"size", result.oldTyre}, {"diameter_mm", DiameterText(result.oldDiameterHundredths)}};
        out["new_tyre"] = {{"size", result.newTyre}, {"diameter_mm", DiameterText(result.newDiameterHundredths)}};
        out["final_drive"] = result.drive.empty() ? json(nullptr) : json(result.drive);
    } else {
        out["kind"] = "gps";
        out["indicated"] = result.indicated;
        out["actual"] = result.actual;
    }
    // Exact values as integers and text, never as binary floating point.
    out["current"] = {{"tenths", result.currentTenths}, {"text", SettingText(result.currentTenths)}};
    out["exact"] = {{"millionths_of_percent", result.exactMillionths},
                    {"text", PercentText(result.exactMillionths, 2)}};
    out["setting"] = {{"tenths", result.settingTenths}, {"text", SettingText(result.settingTenths)}};
    json readings = json::array();
    for (const SpeedometerReading &reading : result.readings)
        readings.push_back({{"true_kmh", reading.trueKmh},
                            {"before_kmh", KmhText(reading.beforeTenths)},
                            {"after_kmh", KmhText(reading.afterTenths)}});
    out["readings"] = readings;
    return out;
}
